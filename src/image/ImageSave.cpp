// Saving an image file: inspected in memory, then put in place safely.
#include "image/ImageSave.h"

#include "framework/Exceptions.h"
#include "framework/ThrowHelpers.h"
#include "image/ImageCheck.h"

namespace btreeimg {

void replaceImageFile(const char* target, const void* data, std::size_t size,
                      FileReplacement::TemporaryStem stem) {
  ImageCheck check;
  if (check.Inspect(static_cast<const unsigned char*>(data), size, true) !=
      ImageCheck::sound) {
    const CString text =
        "the image to be saved is damaged: " + check.Summary() +
        "; the file was left as it was";
    detail::throwFileError(CFileException::invalidFile, target, -1, text);
  }
  FileReplacement replacement(target, stem);
  replacement.write(data, size);
  replacement.commit();
}

}  // namespace btreeimg
