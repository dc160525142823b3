// Registration of an extension library with the framework. The btreeimg
// shared library registers itself when it is loaded (AfxInitExtensionModule,
// then a new CDynLinkLibrary) and ends the registration when it is unloaded
// (AfxTermExtensionModule). BtreeImgIsRegistered() tells whether the
// library's own registration is in place.
#ifndef BTREEIMG_FRAMEWORK_MODULE_H_
#define BTREEIMG_FRAMEWORK_MODULE_H_

#include "framework/CObject.h"
#include "framework/Export.h"
#include "framework/Types.h"

// What a registered library's registration keeps.
struct AFX_EXTENSION_MODULE {
  // TRUE once AfxInitExtensionModule() has run for it.
  BOOL bInitialized;
  // The handle AfxInitExtensionModule() was given.
  void* hModule;
  // The same handle, for the library's resources.
  void* hResource;
};

// One registered library in the framework's chain of libraries.
class AFX_EXT_CLASS CDynLinkLibrary : public CObject {
 public:
  // Links itself into the chain for `state`.
  explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state);
  CDynLinkLibrary(const CDynLinkLibrary&) = delete;
  CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;
  // Unlinks itself from the chain.
  ~CDynLinkLibrary() override;

  // The registration this library entry was made for.
  AFX_EXTENSION_MODULE* module() const { return module_; }
  // The most recently registered library, or null; walk with next().
  // Registering and ending registrations is safe from any thread; a walk
  // must not overlap the end of a registration on another thread.
  static CDynLinkLibrary* first();
  CDynLinkLibrary* next() const { return next_; }

 private:
  AFX_EXTENSION_MODULE* module_;
  CDynLinkLibrary* next_;
};

// Marks `state` initialised for `hModule`. Returns TRUE.
AFX_EXT_API BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state,
                                        void* hModule);
// Deletes every CDynLinkLibrary registered for `state` and marks it
// uninitialised.
AFX_EXT_API void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state,
                                        BOOL bAll = FALSE);

extern "C" {
// 1 while the btreeimg library is registered with the framework, else 0.
AFX_EXT_API int BtreeImgIsRegistered(void);
}

#endif  // BTREEIMG_FRAMEWORK_MODULE_H_
