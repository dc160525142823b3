// The one way an image file reaches the disk: every save of the library
// (BtreeImg::closeImg, ImageWriter::commit, colour coverage) and of its front
// ends goes through replaceImageFile().
//
// Before anything is created, the bytes about to replace the file are
// inspected where they lie in memory (ImageCheck, layout only: the header
// blocks, every plane's place and encoding, the ends of each line offset
// table and each whole-plane stream's head; no line is decoded, so the cost
// does not grow with the planes). An image the inspection does not call
// sound is refused and the file stays as it was: whatever fault made it,
// no save replaces somebody's file with one that the library's own check
// calls damaged.
#ifndef BTREEIMG_IMAGE_IMAGESAVE_H_
#define BTREEIMG_IMAGE_IMAGESAVE_H_

#include <cstddef>

#include "framework/Export.h"
#include "framework/FileReplacement.h"
#include "framework/Types.h"

namespace btreeimg {

// Replaces the file `target` with the image file of `size` bytes at `data`
// through btreeimg::FileReplacement (`stem` names its temporary file as
// there; null: the default name). Throws CFileException* naming `target`,
// having written nothing: with cause invalidFile and the inspection's words
// ("the image to be saved is damaged: ...") when the bytes are not a sound
// image file, and as FileReplacement does when the file cannot be replaced.
AFX_EXT_API void replaceImageFile(const char* target, const void* data,
                                  std::size_t size,
                                  FileReplacement::TemporaryStem stem = nullptr);

}  // namespace btreeimg

#endif  // BTREEIMG_IMAGE_IMAGESAVE_H_
