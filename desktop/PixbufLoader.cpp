// A GdkPixbuf loader module for the library's image files: plane 1 through
// the colour map as an RGB picture. With it installed (and the loader cache
// refreshed), every GdkPixbuf application opens the files.
//
// Both of GdkPixbuf's interfaces are offered. The whole-file load is handed
// a FILE*: a regular file is read where it lies, through its descriptor
// (pread); anything else is read to its end into memory. The incremental
// load is handed the bytes piece by piece, which are gathered in memory.
// Either way ImageCheck inspects the file whole, and btreeimg::ImageReader
// then reads only the lines the picture needs: the module holds the picture,
// a line, and (incremental load) the file's bytes, never a decoded plane.
// Nothing goes through a file name, so /proc need not be mounted.
//
// Only a sound plane 1 is shown. A file the inspection finds unusable, or
// damaged in plane 1 or as a whole (cut short, a broken line table, ...), is
// refused with a GError giving the inspection's verdict in the words every
// front end uses (ImageCheck::PlaneSummary); so is anything the library
// throws. Damage in planes 2 to 5 alone does not keep plane 1 from showing. No error ends
// the host process. A host that sets the size to 0 x 0 wants no picture
// (GdkPixbuf's file information asks so): the load then ends without one
// and without an error.
//
// When the host asks for a smaller picture (gdk_pixbuf_new_from_file_at_size,
// thumbnailers, file chooser previews), the picture is sampled at that size
// directly, the same way `btreeimg thumbnail` samples it, instead of being
// made at full size and scaled afterwards.
//
// A limit on pixels keeps a small file from costing gigabytes: a picture of
// more pixels than the limit is refused, and so is a smaller one whose
// sampling would read more (its lines sampled times their length), both as
// soon as the first header block is in. The limit is the library's
// ImageReader::kDefaultPixelLimit (2^28, a picture of 16384 x 16384), or
// the environment variable BTREEIMG_MAX_PIXELS (a count of pixels; 0: no
// limit), read at each load.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gmodule.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "image/PlaneSampling.h"
#include "framework/Exceptions.h"
#include "image/ImageCheck.h"
#include "image/ImageReader.h"

namespace {

using btreeimg::ImageReader;

// Every plane's header block has this size; the first one states the
// picture's size.
constexpr std::size_t kHeaderBlock = 1312;
// The library refuses larger files; gathering stops there.
constexpr std::uint64_t kLargestFile = std::uint64_t{1} << 32;

void setError(GError** error, int code, const std::string& text) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, text.c_str());
}

// The inspection's verdict in one sentence: its first problem, and how many
// more there are.
std::string summaryOf(const ImageCheck& check) { return static_cast<const char*>(check.Summary()); }

// The text of a framework exception, without a file name (the host names
// the file). Releases the exception.
std::string takeMessage(CException* e) {
  const std::string text = btreeimg::describe(e, false).GetString();
  e->Delete();
  return text;
}

// The bytes of an incremental load, gathered in one block that grows by
// realloc (large blocks grow in place, by remapping, not by copying).
class Gathered {
 public:
  Gathered() = default;
  Gathered(const Gathered&) = delete;
  Gathered& operator=(const Gathered&) = delete;
  ~Gathered() { std::free(data_); }
  const unsigned char* data() const { return data_; }
  std::uint64_t size() const { return size_; }
  // Appends `n` bytes; false when there is no memory for them.
  bool append(const unsigned char* bytes, std::size_t n) {
    if (n > room_ - size_) {
      std::size_t room = room_ < (std::size_t{1} << 16) ? std::size_t{1} << 16 : room_;
      while (room - size_ < n) room = room > SIZE_MAX / 2 ? SIZE_MAX : 2 * room;
      void* grown = std::realloc(data_, room);
      if (grown == nullptr) return false;
      data_ = static_cast<unsigned char*>(grown);
      room_ = room;
    }
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
    return true;
  }

 private:
  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t room_ = 0;
};

// One load in progress: the host's callbacks, the bytes gathered so far
// and the picture asked for.
struct Load {
  GdkPixbufModuleSizeFunc sizeFunc = nullptr;
  GdkPixbufModulePreparedFunc preparedFunc = nullptr;
  GdkPixbufModuleUpdatedFunc updatedFunc = nullptr;
  gpointer user = nullptr;

  Gathered bytes;          // incremental load: the file so far
  bool sized = false;      // the size has been announced to the host
  bool abandoned = false;  // the host asked for no picture (size 0)
  int width = 0, height = 0;  // the picture the host asked for
};

// Once the first header block (`head`, `size` bytes) is in: refuses a file
// that is no usable image, tells the host the picture's size and learns the
// size it wants, and refuses a picture over the pixel limit.
bool announceSize(Load& load, const unsigned char* head, std::size_t size, GError** error) {
  std::unique_ptr<ImageReader> first;  // the header block alone: its layout only
  try {
    first = std::make_unique<ImageReader>(head, size, ImageReader::lenient);
  } catch (CException* e) {
    setError(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "Not a usable image file: " + takeMessage(e));
    return false;
  }
  const std::uint32_t dimx = first->width(), dimy = first->height();
  if (dimx == 0 || dimy == 0 || dimx > INT_MAX || dimy > INT_MAX) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
             "The image states a size of " + std::to_string(dimx) + " x " +
                 std::to_string(dimy) + " pixels, which cannot be shown");
    return false;
  }
  int width = static_cast<int>(dimx), height = static_cast<int>(dimy);
  if (load.sizeFunc != nullptr) load.sizeFunc(&width, &height, load.user);
  load.sized = true;
  load.abandoned = width <= 0 || height <= 0;
  load.width = width;
  load.height = height;
  if (load.abandoned) return true;
  const btreeimg::sampling::Size picture{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
  const std::string problem = btreeimg::sampling::samplingProblem(
      *first, {0, 0, dimx, dimy}, picture, btreeimg::sampling::pixelLimitFromEnvironment());
  if (!problem.empty()) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
             "The image is too large: " + problem + btreeimg::sampling::kRaiseLimit);
    return false;
  }
  return true;
}

gboolean gather(Load& load, const guchar* data, guint size, GError** error) {
  if (load.abandoned) return TRUE;
  if (load.bytes.size() + size > kLargestFile) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The image file is larger than 4 GiB");
    return FALSE;
  }
  if (!load.bytes.append(data, size)) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to gather the image");
    return FALSE;
  }
  if (!load.sized && load.bytes.size() >= kHeaderBlock) {
    return announceSize(load, load.bytes.data(), kHeaderBlock, error);
  }
  return TRUE;
}

// Sets `error` from the whole inspection unless plane 1, the one shown, is
// sound (the file may be damaged in another plane): in the words of the
// problems that concern plane 1.
bool requireSound(const ImageCheck& check, GError** error) {
  if (check.PlaneSound(1)) return true;
  const bool unusable = check.GetVerdict() == ImageCheck::unusable;
  setError(error, unusable ? GDK_PIXBUF_ERROR_UNKNOWN_TYPE : GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
           std::string(unusable ? "Not a usable image file: " : "The image file is damaged: ") +
               static_cast<const char*>(check.PlaneSummary(1)));
  return false;
}

// Makes the picture from the image: plane 1 sampled at the size asked for,
// through the colour map. Hands it to the host as it is prepared and again
// when every row is in.
bool render(Load& load, ImageReader& image, GError** error) {
  const btreeimg::sampling::Size size{static_cast<std::uint32_t>(load.width),
                            static_cast<std::uint32_t>(load.height)};
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, load.width, load.height);
  if (pixbuf == nullptr) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
             "Not enough memory for a picture of " + std::to_string(load.width) + " x " +
                 std::to_string(load.height) + " pixels");
    return false;
  }
  if (load.preparedFunc != nullptr) load.preparedFunc(pixbuf, nullptr, load.user);
  unsigned char map[256][3];
  image.colourMap(&map[0][0]);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const std::size_t stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
  try {
    btreeimg::sampling::sampleRows(image, 1, size, [&](std::uint32_t y, const unsigned char* row) {
      guchar* out = pixels + y * stride;
      for (std::uint32_t x = 0; x < size.width; ++x, out += 3) std::memcpy(out, map[row[x]], 3);
    });
  } catch (...) {
    g_object_unref(pixbuf);
    throw;
  }
  if (load.updatedFunc != nullptr) {
    load.updatedFunc(pixbuf, 0, 0, load.width, load.height, load.user);
  }
  g_object_unref(pixbuf);  // the host holds its own reference
  return true;
}

// Runs `step` (which makes the picture), turning what it throws into
// `error`.
template <typename Step>
gboolean reading(GError** error, Step&& step) {
  try {
    return step() ? TRUE : FALSE;
  } catch (CException* e) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The image cannot be read: " + takeMessage(e));
  } catch (const std::bad_alloc&) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to read the image");
  } catch (...) {
    setError(error, GDK_PIXBUF_ERROR_FAILED, "The image cannot be read");
  }
  return FALSE;
}

gboolean finish(Load& load, GError** error) {
  if (load.abandoned) return TRUE;
  ImageCheck check;
  check.Inspect(load.bytes.data(), load.bytes.size());
  if (!load.sized) {  // shorter than a header block: say why
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Not a usable image file: " + summaryOf(check));
    return FALSE;
  }
  if (!requireSound(check, error)) return FALSE;
  return reading(error, [&] {
    ImageReader image(load.bytes.data(), load.bytes.size());
    return render(load, image, error);
  });
}

// The whole-file load of the regular file open at `descriptor`, read where
// it lies. GdkPixbuf's whole-file load asks for the picture at full size.
gboolean loadDescriptor(Load& load, int descriptor, GError** error) {
  ImageCheck check;
  unsigned char head[kHeaderBlock];
  if (::pread(descriptor, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) {
    check.InspectDescriptor(descriptor);  // which says why
    if (requireSound(check, error)) {
      setError(error, GDK_PIXBUF_ERROR_FAILED, "The image file cannot be read");
    }
    return FALSE;
  }
  if (!announceSize(load, head, sizeof head, error)) return FALSE;
  if (load.abandoned) return TRUE;
  check.InspectDescriptor(descriptor);
  if (!requireSound(check, error)) return FALSE;
  return reading(error, [&] {
    ImageReader image(descriptor);
    return render(load, image, error);
  });
}

// ---- GdkPixbuf's entry points ---------------------------------------------
// None lets an exception through to the C caller.

gpointer beginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer user, GError** error) {
  try {
    auto* load = new Load;
    load->sizeFunc = sizeFunc;
    load->preparedFunc = preparedFunc;
    load->updatedFunc = updatedFunc;
    load->user = user;
    return load;
  } catch (...) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to start loading");
    return nullptr;
  }
}

gboolean loadIncrement(gpointer context, const guchar* data, guint size, GError** error) {
  try {
    return gather(*static_cast<Load*>(context), data, size, error);
  } catch (...) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the image");
    return FALSE;
  }
}

gboolean stopLoad(gpointer context, GError** error) {
  auto* load = static_cast<Load*>(context);
  gboolean done = FALSE;
  try {
    done = finish(*load, error);
  } catch (...) {
    setError(error, GDK_PIXBUF_ERROR_FAILED, "The image cannot be read");
  }
  delete load;
  return done;
}

void keepPicture(GdkPixbuf* pixbuf, GdkPixbufAnimation*, gpointer user) {
  *static_cast<GdkPixbuf**>(user) = GDK_PIXBUF(g_object_ref(pixbuf));
}

// The whole-file load: a regular file read through its descriptor from its
// start; anything else fed to the incremental load from `file` to its end.
GdkPixbuf* loadWhole(FILE* file, GError** error) {
  GdkPixbuf* picture = nullptr;
  gpointer context = beginLoad(nullptr, keepPicture, nullptr, &picture, error);
  if (context == nullptr) return nullptr;
  std::unique_ptr<Load> load(static_cast<Load*>(context));
  const int descriptor = ::fileno(file);
  struct stat info {};
  if (descriptor >= 0 && ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
      std::ftell(file) == 0) {
    gboolean done = FALSE;
    try {
      done = loadDescriptor(*load, descriptor, error);
    } catch (...) {
      setError(error, GDK_PIXBUF_ERROR_FAILED, "The image cannot be read");
    }
    if (done) return picture;
    if (picture != nullptr) g_object_unref(picture);
    return nullptr;
  }
  guchar buffer[1 << 16];
  bool fed = true;
  while (fed) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got == 0) break;
    fed = loadIncrement(load.get(), buffer, static_cast<guint>(got), error) != FALSE;
  }
  if (fed && std::ferror(file)) {
    setError(error, GDK_PIXBUF_ERROR_FAILED, "The image file cannot be read");
    fed = false;
  }
  if (!fed) return nullptr;
  if (stopLoad(load.release(), error)) return picture;
  if (picture != nullptr) g_object_unref(picture);
  return nullptr;
}

// The format's signature, for hosts that pick a loader by content: the
// version word (2, 3 or 4) at 0 and a small plane count at 1000, its high
// byte zero. Prefix bytes under 'x', 'z' and 'n' in the mask are not
// compared, so they hold no zero byte that would end the string.
struct Signature {
  std::string prefix[3], mask[3];
  GdkPixbufModulePattern patterns[4] = {};

  Signature() {
    for (int v = 0; v < 3; ++v) {
      prefix[v].assign(1002, 'x');
      prefix[v][0] = static_cast<char>(2 + v);
      mask[v].assign(1002, 'x');
      mask[v][0] = ' ';
      mask[v][1] = 'z';
      mask[v][1000] = 'n';
      mask[v][1001] = 'z';
      patterns[v] = {prefix[v].data(), mask[v].data(), 80};
    }
  }
};

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->load = loadWhole;
  module->begin_load = beginLoad;
  module->stop_load = stopLoad;
  module->load_increment = loadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  static Signature signature;
  static gchar name[] = "btreeimg";
  static gchar description[] = "Multi-plane raster image";
  static gchar mimeType[] = "image/x-btreeimg";
  static gchar extension[] = "dis";
  static gchar* mimeTypes[] = {mimeType, nullptr};
  static gchar* extensions[] = {extension, nullptr};
  static gchar license[] = "other";
  info->name = name;
  info->signature = signature.patterns;
  info->domain = nullptr;
  info->description = description;
  info->mime_types = mimeTypes;
  info->extensions = extensions;
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->disabled = FALSE;
  info->license = license;
}

}  // extern "C"
