// The one place where the library builds the framework exceptions it throws.
// Internal: not installed.
#ifndef BTREEIMG_FRAMEWORK_THROWHELPERS_H_
#define BTREEIMG_FRAMEWORK_THROWHELPERS_H_

namespace btreeimg::detail {

// Throws a CFileException* naming `path` and `cause` (a CFileException
// cause); `message`, when given, is the text it reports. Never returns.
[[noreturn]] void throwFileError(int cause, const char* path, long osError = -1,
                                 const char* message = nullptr);
// Throws a CFileException* for errno value `osError` on `path`.
[[noreturn]] void throwOsError(int osError, const char* path);
// Throws a CMemoryException*.
[[noreturn]] void throwMemoryError();
// Throws a CInvalidArgException* describing `what`.
[[noreturn]] void throwInvalidArgument(const char* what);

}  // namespace btreeimg::detail

#endif  // BTREEIMG_FRAMEWORK_THROWHELPERS_H_
