// Symbol visibility of the library. The library is built with hidden
// visibility; only what carries one of these macros is exported.
#ifndef BTREEIMG_FRAMEWORK_EXPORT_H_
#define BTREEIMG_FRAMEWORK_EXPORT_H_

#if defined(_WIN32)
#if defined(BTREEIMG_STATIC)
#define AFX_EXT_CLASS
#elif defined(btreeimg_EXPORTS)
#define AFX_EXT_CLASS __declspec(dllexport)
#else
#define AFX_EXT_CLASS __declspec(dllimport)
#endif
#else
// Marks a class as part of the library's interface: exported from the
// shared library.
#define AFX_EXT_CLASS __attribute__((visibility("default")))
#endif

// Exported free functions and data use the same attribute.
#define AFX_EXT_API AFX_EXT_CLASS
#define AFX_EXT_DATA AFX_EXT_CLASS

#endif  // BTREEIMG_FRAMEWORK_EXPORT_H_
