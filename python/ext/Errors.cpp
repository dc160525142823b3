#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "framework/Exceptions.h"

namespace py = pybind11;

namespace btreeimg::python {
namespace {

// btreeimg.FormatError; created once, lives as long as the interpreter.
PyObject* gFormatError = nullptr;


// Sets OSError(errno, text, filename); Python picks the subclass by errno.
// The text is `message`, or strerror's when that is empty.
void setOsError(int error, const CString& fileName, const std::string& message = "") {
  char buffer[128];
  const char* text =
      message.empty() ? strerror_r(error, buffer, sizeof buffer) : message.c_str();
  PyObject* name = fileName.IsEmpty()
                       ? Py_NewRef(Py_None)
                       : PyUnicode_DecodeFSDefault(fileName.GetString());
  if (name == nullptr) return;  // the decoding error stays set
  PyObject* args = Py_BuildValue("(isN)", error, text, name);
  if (args == nullptr) return;
  PyObject* instance = PyObject_Call(PyExc_OSError, args, nullptr);
  Py_DECREF(args);
  if (instance == nullptr) return;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance)), instance);
  Py_DECREF(instance);
}

void setFileError(const CFileException& e) {
  if (e.m_cause == CFileException::invalidFile && e.m_lOsError <= 0) {
    PyErr_SetString(gFormatError, describe(&e).GetString());
    return;
  }
  const int error = e.m_lOsError > 0 ? static_cast<int>(e.m_lOsError)
                                     : errnoOfCause(e.m_cause);
  setOsError(error, e.m_strFileName);
}

// Sets the Python error for `e`, then deletes it.
void setErrorAndDelete(CException* e) {
  if (auto* file = dynamic_cast<CFileException*>(e)) {
    setFileError(*file);
  } else if (dynamic_cast<CInvalidArgException*>(e) != nullptr) {
    PyErr_SetString(PyExc_ValueError, describe(e).GetString());
  } else if (dynamic_cast<CMemoryException*>(e) != nullptr) {
    PyErr_NoMemory();
  } else {
    PyErr_SetString(PyExc_RuntimeError, describe(e).GetString());
  }
  e->Delete();
}

}  // namespace

OsProblem::OsProblem(int error, std::string fileName, std::string message)
    : std::runtime_error("operating system error " + std::to_string(error)),
      error_(error),
      fileName_(std::move(fileName)),
      message_(std::move(message)) {}

const char* requirePath(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    throw std::invalid_argument("embedded null byte");
  }
  return path.c_str();
}

int openForReading(const std::string& path) {
  const int descriptor =
      ::open(requirePath(path), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) throw OsProblem(errno, path);
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(descriptor);
    throw OsProblem(error, path);
  }
  return descriptor;
}

int errnoOfCause(int cause) {
  switch (cause) {
    case CFileException::fileNotFound:
    case CFileException::badPath:
      return ENOENT;
    case CFileException::tooManyOpenFiles:
      return EMFILE;
    case CFileException::accessDenied:
      return EACCES;
    case CFileException::removeCurrentDir:
    case CFileException::sharingViolation:
      return EBUSY;
    case CFileException::directoryFull:
    case CFileException::diskFull:
      return ENOSPC;
    case CFileException::badSeek:
      return EINVAL;
    case CFileException::lockViolation:
      return ENOLCK;
    default:  // none, genericException, hardIO, endOfFile, invalidFile
      return EIO;
  }
}

void registerErrors(py::module_& module) {
  gFormatError = PyErr_NewExceptionWithDoc(
      "btreeimg.FormatError",
      "The file is not an image this library can use: not an image file, a\n"
      "damaged one, or one whose stated sizes cannot be right. A subclass of\n"
      "ValueError.",
      PyExc_ValueError, nullptr);
  if (gFormatError == nullptr) throw py::error_already_set();
  module.attr("FormatError") = py::handle(gFormatError);

  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (CException* e) {
      setErrorAndDelete(e);
    } catch (const FormatProblem& e) {
      PyErr_SetString(gFormatError, e.what());
    } catch (const OsProblem& e) {
      setOsError(e.error(), CString(e.fileName().c_str()), e.message());
    }
  });
}

}  // namespace btreeimg::python
