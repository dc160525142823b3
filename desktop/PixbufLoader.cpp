// A GdkPixbuf loader module for the library's image files: plane 1 through
// the colour map as an RGB picture. With it installed (and the loader cache
// refreshed), every GdkPixbuf application opens the files.
//
// Both of GdkPixbuf's interfaces are offered. The whole-file load reads a
// FILE* to its end; the incremental one is handed the bytes piece by piece.
// Either way the bytes are gathered into an anonymous in-memory file, which
// is inspected with ImageCheck and then opened with BtreeImg through its
// /proc/self/fd name: the library reads images only by name, and this keeps
// the viewer's copy apart from a file that may change on disk meanwhile.
//
// Only sound files are shown. A file the inspection finds unusable or
// damaged (cut short, a broken line table, ...) is refused with a GError
// giving the inspection's verdict in the words every front end uses
// (ImageCheck::Summary); so is anything the library throws. No error ends
// the host process. A host that sets the size to 0 x 0 wants no picture
// (GdkPixbuf's file information asks so): the load then ends without one
// and without an error.
//
// When the host asks for a smaller picture (gdk_pixbuf_new_from_file_at_size,
// thumbnailers, file chooser previews), the picture is sampled at that size
// directly, the same way `btreeimg thumbnail` samples it, instead of being
// made at full size and scaled afterwards.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gmodule.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "PlaneSampling.h"
#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"

namespace {

// Every plane's header block has this size (BtreeImg::dimHeader); the first
// one states the picture's size.
constexpr std::size_t kHeaderBlock = 1312;
// The library refuses larger files; gathering stops there.
constexpr std::uint64_t kLargestFile = std::uint64_t{1} << 32;

void setError(GError** error, int code, const std::string& text) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, text.c_str());
}

// The inspection's verdict in one sentence: its first problem, and how many
// more there are.
std::string summaryOf(const ImageCheck& check) { return static_cast<const char*>(check.Summary()); }

// The text of a framework exception, without the /proc name the library was
// given. Releases the exception.
std::string takeMessage(CException* e) {
  if (auto* fileError = dynamic_cast<CFileException*>(e)) fileError->m_strFileName.Empty();
  char text[512] = "";
  if (!e->GetErrorMessage(text, sizeof text)) std::snprintf(text, sizeof text, "unknown error");
  e->Delete();
  return text;
}

// One load in progress: the host's callbacks and the bytes gathered so far.
struct Load {
  GdkPixbufModuleSizeFunc sizeFunc = nullptr;
  GdkPixbufModulePreparedFunc preparedFunc = nullptr;
  GdkPixbufModuleUpdatedFunc updatedFunc = nullptr;
  gpointer user = nullptr;

  int file = -1;               // the in-memory file holding the bytes
  std::uint64_t received = 0;  // bytes written to it
  std::vector<unsigned char> head;  // the first header block, as it arrives
  bool sized = false;          // the size has been announced to the host
  bool abandoned = false;      // the host asked for no picture (size 0)
  int width = 0, height = 0;   // the picture the host asked for

  ~Load() {
    if (file >= 0) ::close(file);
  }
};

// An anonymous file in memory; an unlinked temporary file where the kernel
// offers none. -1 with `error` set on failure.
int makeGatheringFile(GError** error) {
  int descriptor = ::memfd_create("btreeimg-pixbuf", MFD_CLOEXEC);
  if (descriptor >= 0) return descriptor;
  gchar* name = nullptr;
  GError* failure = nullptr;
  descriptor = g_file_open_tmp("btreeimg-pixbuf-XXXXXX", &name, &failure);
  if (descriptor < 0) {
    setError(error, GDK_PIXBUF_ERROR_FAILED,
             std::string("no room to gather the image: ") + failure->message);
    g_error_free(failure);
    return -1;
  }
  ::unlink(name);
  g_free(name);
  return descriptor;
}

bool writeAll(int descriptor, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(descriptor, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

// Once the first header block is in: refuses a file that is no usable image,
// then tells the host the picture's size and learns the size it wants.
bool announceSize(Load& load, GError** error) {
  ImageCheck check;
  if (check.Inspect(load.head.data(), load.head.size()) == ImageCheck::unusable) {
    setError(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "Not a usable image file: " + summaryOf(check));
    return false;
  }
  const ImageCheck::PlaneLayout& plane = check.Plane(1);
  if (plane.dimx == 0 || plane.dimy == 0 || plane.dimx > INT_MAX || plane.dimy > INT_MAX) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
             "The image states a size of " + std::to_string(plane.dimx) + " x " +
                 std::to_string(plane.dimy) + " pixels, which cannot be shown");
    return false;
  }
  int width = static_cast<int>(plane.dimx), height = static_cast<int>(plane.dimy);
  if (load.sizeFunc != nullptr) load.sizeFunc(&width, &height, load.user);
  load.sized = true;
  load.abandoned = width <= 0 || height <= 0;
  load.width = width;
  load.height = height;
  return true;
}

gboolean gather(Load& load, const guchar* data, guint size, GError** error) {
  if (load.abandoned) return TRUE;
  if (load.received + size > kLargestFile) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The image file is larger than 4 GiB");
    return FALSE;
  }
  if (!writeAll(load.file, data, size)) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
             std::string("No room to gather the image: ") + std::strerror(errno));
    return FALSE;
  }
  load.received += size;
  const std::size_t wanted = kHeaderBlock - load.head.size();
  load.head.insert(load.head.end(), data, data + std::min<std::size_t>(wanted, size));
  if (!load.sized && load.head.size() == kHeaderBlock) return announceSize(load, error);
  return TRUE;
}

// Inspects the gathered bytes whole. Returns false, with `error` set, unless
// the file is sound.
bool inspectGathered(const Load& load, GError** error) {
  ImageCheck check;
  if (!sampling::inspectMapped(load.file, check)) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "The gathered image cannot be inspected");
    return false;
  }
  if (check.GetVerdict() == ImageCheck::sound) return true;
  const bool unusable = check.GetVerdict() == ImageCheck::unusable;
  setError(error, unusable ? GDK_PIXBUF_ERROR_UNKNOWN_TYPE : GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
           std::string(unusable ? "Not a usable image file: " : "The image file is damaged: ") +
               summaryOf(check));
  return false;
}

// Makes the picture from the opened image: plane 1 sampled at the size
// asked for, through the colour map. Hands it to the host as it is prepared
// and again when every row is in.
bool render(Load& load, BtreeImg& image, GError** error) {
  const sampling::Size size{static_cast<std::uint32_t>(load.width),
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
  for (short i = 0; i < 256; ++i) {
    for (short c = 0; c < 3; ++c) map[i][c] = image.GetRgbHeader(i, c, 0);
  }
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const std::size_t stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
  try {
    sampling::sampleRows(image, 1, size, [&](std::uint32_t y, const unsigned char* row) {
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

gboolean finish(Load& load, GError** error) {
  if (load.abandoned) return TRUE;
  if (!load.sized) {  // shorter than a header block: say why
    ImageCheck check;
    check.Inspect(load.head.data(), load.head.size());
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Not a usable image file: " + summaryOf(check));
    return FALSE;
  }
  if (!inspectGathered(load, error)) return FALSE;
  const std::string name = "/proc/self/fd/" + std::to_string(load.file);
  try {
    BtreeImg image(name.c_str());
    return render(load, image, error) ? TRUE : FALSE;
  } catch (CException* e) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The image cannot be read: " + takeMessage(e));
  } catch (const std::bad_alloc&) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to read the image");
  } catch (...) {
    setError(error, GDK_PIXBUF_ERROR_FAILED, "The image cannot be read");
  }
  return FALSE;
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
    load->head.reserve(kHeaderBlock);
    load->file = makeGatheringFile(error);
    if (load->file < 0) {
      delete load;
      return nullptr;
    }
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

// The whole-file load: the incremental one fed from `file` to its end.
GdkPixbuf* loadWhole(FILE* file, GError** error) {
  GdkPixbuf* picture = nullptr;
  gpointer context = beginLoad(nullptr, keepPicture, nullptr, &picture, error);
  if (context == nullptr) return nullptr;
  guchar buffer[1 << 16];
  bool fed = true;
  while (fed) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got == 0) break;
    fed = loadIncrement(context, buffer, static_cast<guint>(got), error) != FALSE;
  }
  if (fed && std::ferror(file)) {
    setError(error, GDK_PIXBUF_ERROR_FAILED, "The image file cannot be read");
    fed = false;
  }
  if (!fed) {
    delete static_cast<Load*>(context);
    return nullptr;
  }
  if (stopLoad(context, error)) return picture;
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
