// How the extension reports failures to Python. The library throws its
// framework exceptions as heap pointers; a translator registered here turns
// every one that leaves a binding into Python's own exception and deletes it,
// so that no pointer leaks and no C++ exception reaches the interpreter.
//
//   CFileException     FormatError (a ValueError) for a file that is not a
//                      usable image (cause invalidFile, no OS error);
//                      otherwise OSError with errno and filename, which
//                      Python turns into FileNotFoundError, PermissionError,
//                      IsADirectoryError, ... by its errno
//   CInvalidArgException  ValueError
//   OsProblem          OSError with errno and filename (the extension's own)
//   std::invalid_argument ValueError (pybind11's own translation)
//   CMemoryException   MemoryError
//   any other CException  RuntimeError
#ifndef BTREEIMG_PYTHON_ERRORS_H_
#define BTREEIMG_PYTHON_ERRORS_H_

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

namespace btreeimg::python {

// Raised (as a C++ exception) for a file that is not a usable image; the
// translator turns it into FormatError.
class FormatProblem : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised (as a C++ exception) for a failure of the operating system that
// the extension meets itself; the translator turns it into OSError with
// errno, the text `message` (strerror's when empty) and filename.
class OsProblem : public std::runtime_error {
 public:
  OsProblem(int error, std::string fileName, std::string message = "");
  int error() const { return error_; }
  const std::string& fileName() const { return fileName_; }
  const std::string& message() const { return message_; }

 private:
  int error_;
  std::string fileName_;
  std::string message_;
};

// `path` as a C string for the library. Throws std::invalid_argument
// ("embedded null byte", as Python's own open) when it holds a NUL byte,
// which would cut the name short.
const char* requirePath(const std::string& path);

// A new descriptor (close-on-exec) of the file `path`, open for reading
// without waiting (a FIFO with no writer opens at once). Throws OsProblem
// with errno when it cannot be opened, with EISDIR for a folder.
int openForReading(const std::string& path);

// Creates FormatError in `module` and registers the translation of the
// library's exceptions. Called once, when the module is imported.
void registerErrors(pybind11::module_& module);

// The errno value that stands for a CFileException cause with no OS error.
int errnoOfCause(int cause);

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_ERRORS_H_
