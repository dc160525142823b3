// Replacing a file safely: the way every file the library writes reaches the
// disk (an image saved on close, the result of a colour coverage, a settings
// or list file, each output of the command-line tool).
//
// The new content goes to a temporary file that the save creates itself,
// exclusively and never through a symbolic link, beside the file it replaces;
// it stays private (mode 0600) until complete. commit() then gives it the
// replaced file's permission bits (and owner and group where the process may
// set them), flushes it to the disk, renames it over the target in one step
// and flushes the folder. So:
// - a failure or an interruption at any point leaves the old file whole, and
//   a save that returned leaves the new content, even across a power cut;
// - nothing is ever written through a link planted at the temporary name,
//   and no file the save did not create is truncated, written or removed;
// - a target that is a symbolic link stays one: the file it points at (found
//   when the replacement starts) gets the new content, and its temporary file
//   lives beside that file. A dangling link creates the file it names;
// - two saves of the same file at the same time never mix: each has its own
//   temporary file, and the file ends as one of the two.
//
// A rename gives the target's name a new file: other hard links to the old
// file keep the old content.
//
// A save replaces only what writing the file in place could change. It
// refuses, before it creates anything, with a CFileException* (cause
// accessDenied) naming the target:
// - an existing target (after its links) that is not a regular file: a
//   device node, a FIFO, a socket or a folder ("not a regular file");
// - an existing target this process may not write (checked for the
//   effective user, as open would): a read-only file is refused as opening
//   it for writing would refuse it ("access denied (Permission denied)"),
//   even where its folder would allow the rename. The superuser may write
//   any file;
// - a symbolic link in a shared folder (sticky and world-writable, as /tmp)
//   owned by neither this user nor the folder's owner: such a link is not
//   followed, as the kernel's protected_symlinks rule has it, so that a link
//   planted there by another user cannot redirect the save.
//
// Temporary names are "<stem>-XXXXXX", six random letters and digits after a
// stem that defaults to "<target>.~tmp". Where such a name would pass the
// folder's limit on a name's length (255 bytes on most file systems), bytes
// are dropped from the stem's name just before its last '.' (whole UTF-8
// characters), so that any name the folder accepts can be saved. A save
// killed before it finished can leave such a file behind; it is never the
// target and may be deleted.
#ifndef BTREEIMG_FRAMEWORK_FILEREPLACEMENT_H_
#define BTREEIMG_FRAMEWORK_FILEREPLACEMENT_H_

#include <cstddef>

#include "framework/CString.h"
#include "framework/Export.h"
#include "framework/Types.h"

class CFile;

namespace btreeimg {

// One replacement of one file, from the creation of its temporary file to
// commit(). Not copyable; used by one thread at a time.
class AFX_EXT_CLASS FileReplacement {
 public:
  // The stem of the temporary name for the (resolved) target path.
  using TemporaryStem = CString (*)(const CString& target);

  // Resolves `target`'s symbolic links, checks the file they lead to (see
  // above) and creates the temporary file. `stem`, when given, names the
  // temporary file's stem instead of "<target>.~tmp" (shortened as above
  // where needed). Throws CFileException* naming `target` when a link cannot
  // be resolved or may not be followed, when the target is refused, or when
  // the temporary file cannot be created, naming the folder instead when the
  // folder refuses a new file (not writable, or on a read-only file system);
  // nothing is created then.
  explicit FileReplacement(const char* target, TemporaryStem stem = nullptr);
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Without a successful commit(): removes the temporary file (when it is
  // still the one this object created) and leaves the target as it was.
  ~FileReplacement();

  // The path commit() replaces: the target with its links resolved.
  const CString& target() const { return target_; }
  // The temporary file's path.
  const CString& temporaryPath() const { return temporary_; }
  // The temporary file's descriptor, open for writing, until commit() or
  // abandon(). The caller may write through it (or a duplicate of it) but
  // must not close it.
  int descriptor() const { return fd_; }

  // Appends `size` bytes to the temporary file. Throws CFileException*
  // naming the target (diskFull when the disk is full).
  void write(const void* data, std::size_t size);
  // Opens `file` on the temporary file (a duplicate of its descriptor), with
  // typeText or typeBinary and the other flags as for CFile::Open; the
  // temporary file is never opened again by name. Close `file` (which writes
  // what it buffered) before commit(). FALSE when no descriptor is left.
  BOOL open(CFile& file, UINT openFlags);

  // Completes the replacement as described above. Throws CFileException*
  // when the content cannot be flushed or the rename fails (the target is
  // then as it was and the temporary file removed), or when the folder
  // cannot be flushed after the rename (the new content is then in place,
  // but may not survive a power cut).
  void commit();
  // Gives up: removes the temporary file now. The target is as it was.
  void abandon();

 private:
  void inspectTarget(const char* name);
  void prepareMode();
  void removeTemporary();

  CString target_;
  CString temporary_;
  int fd_ = -1;
  bool exists_ = false;   // whether the target existed when we started
  unsigned mode_ = 0;     // its permission bits, or those of a new file
  unsigned owner_ = 0;
  unsigned group_ = 0;
  bool committed_ = false;
};

}  // namespace btreeimg

#endif  // BTREEIMG_FRAMEWORK_FILEREPLACEMENT_H_
