// Opening an image file in GIMP: an indexed image with the file's colour
// map and one layer per plane, plane 1 on top, and the small picture GIMP's
// open dialog shows beside a file.
//
// The file is read through btreeimg::ImageReader, line by line into each
// layer, a strip of lines at a time, so that the plug-in holds a strip,
// never a decoded plane. Before anything is read, the file is inspected
// whole (ImageCheck): a damaged file is refused with the inspection's
// verdict in the words every reader of these files uses; interactively, the
// user may then open it as the library reads it (the reader's lenient
// policy). A plane costing more pixels than the limit (BTREEIMG_MAX_PIXELS,
// read as every viewer reads it) is refused before any is read.
#include <fcntl.h>
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Plugin.h"
#include "image/ImageCheck.h"
#include "image/ImageReader.h"
#include "image/PlaneSampling.h"

namespace gimpplugin {

namespace {

using btreeimg::ImageReader;

// A strip of lines is read and handed to GIMP at a time; about this many
// bytes, and at least one line.
constexpr std::size_t kStripBytes = std::size_t{1} << 15;

// The file open for reading, closed when it goes out of scope.
class OpenFile {
 public:
  explicit OpenFile(const char* path) : descriptor_(::open(path, O_RDONLY | O_CLOEXEC)) {
    if (descriptor_ < 0) throw Refusal{std::string("Cannot open the file: ") + std::strerror(errno)};
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { ::close(descriptor_); }
  int descriptor() const { return descriptor_; }

 private:
  int descriptor_;
};

// Opens a reader of the file's header blocks alone (its layout, no line
// read), refusing a file that is no usable image.
std::unique_ptr<ImageReader> readLayout(int descriptor) {
  ImageCheck check;
  if (check.InspectDescriptor(descriptor, true) == ImageCheck::unusable) {
    throw Refusal{"Not a usable image file: " + std::string(check.Summary())};
  }
  return std::make_unique<ImageReader>(descriptor, ImageReader::lenient);
}

// Refuses an image without pixels, and one GIMP cannot hold or whose
// planes cost more than the pixel limit (when `whole`; else the sampling of
// `picture` is held to the limit).
void requireSize(ImageReader& image, bool whole, btreeimg::sampling::Size picture = {}) {
  const unsigned int width = image.width(), height = image.height();
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width == 0 || height == 0) {
    throw Refusal{"The image states a size of " + size + ", which cannot be shown"};
  }
  if (whole && (width > GIMP_MAX_IMAGE_SIZE || height > GIMP_MAX_IMAGE_SIZE)) {
    throw Refusal{"The image states a size of " + size + "; GIMP holds images of at most " +
                  std::to_string(GIMP_MAX_IMAGE_SIZE) + " pixels a side"};
  }
  const std::uint64_t limit = btreeimg::sampling::pixelLimitFromEnvironment();
  if (whole) {
    const std::string problem = static_cast<const char*>(image.limitProblem(limit));
    if (!problem.empty()) {
      throw Refusal{"The image is too large: " + problem + btreeimg::sampling::kRaiseLimit};
    }
    return;
  }
  const std::uint64_t cost = btreeimg::sampling::samplingCost(width, height, picture);
  if (cost > limit) {
    throw Refusal{"The image is too large: a " + std::to_string(picture.width) + " x " +
                  std::to_string(picture.height) + " picture of it reads " +
                  std::to_string(cost) + " pixels, more than the limit of " +
                  std::to_string(limit) + btreeimg::sampling::kRaiseLimit};
  }
}

// Asks whether to open the damaged file anyway. Returns the user's answer.
bool askOpenDamaged(const std::string& verdict) {
  gimp_ui_init(kBinary, FALSE);
  GtkWidget* dialog = gimp_dialog_new(
      "Open a damaged image", kBinary, nullptr, GtkDialogFlags(0), gimp_standard_help_func,
      kOpenProcedure, "_Cancel", GTK_RESPONSE_CANCEL, "_Open Anyway", GTK_RESPONSE_OK,
      static_cast<const char*>(nullptr));
  const std::string text = "The image file is damaged: " + verdict +
                           ".\n\nOpened anyway, it shows what the file holds, with zero "
                           "pixels where it holds nothing.";
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_misc_set_padding(GTK_MISC(label), 12, 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), label, TRUE,
                     TRUE, 0);
  gtk_widget_show(label);
  const bool open = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
  gtk_widget_destroy(dialog);
  return open;
}

// Inspects the file whole. Returns the reading policy: strict for a sound
// file, lenient when the user accepts a damaged one; refuses it otherwise.
int policyFor(int descriptor, bool interactive) {
  ImageCheck check;
  check.InspectDescriptor(descriptor);
  if (check.GetVerdict() == ImageCheck::sound) return ImageReader::strict;
  const std::string verdict = static_cast<const char*>(check.Summary());
  if (check.GetVerdict() == ImageCheck::unusable) {
    throw Refusal{"Not a usable image file: " + verdict};
  }
  if (interactive && askOpenDamaged(verdict)) return ImageReader::lenient;
  throw Refusal{"The image file is damaged: " + verdict};
}

// An image of the reader's colour map, to be deleted unless kept.
class NewImage {
 public:
  NewImage(unsigned int width, unsigned int height, ImageReader& reader)
      : id_(gimp_image_new(static_cast<gint>(width), static_cast<gint>(height), GIMP_INDEXED)) {
    if (id_ < 0) throw Refusal{"GIMP cannot make an image of this size"};
    unsigned char map[768];
    reader.colourMap(map);
    gimp_image_set_colormap(id_, map, 256);
  }
  NewImage(const NewImage&) = delete;
  NewImage& operator=(const NewImage&) = delete;
  ~NewImage() {
    if (id_ >= 0) gimp_image_delete(id_);
  }
  gint32 id() const { return id_; }
  gint32 keep() {
    const gint32 id = id_;
    id_ = -1;
    return id;
  }

  // A new layer named `name`, inserted at `position` from the top.
  gint32 addLayer(const std::string& name, int width, int height, int position) {
    const gint32 layer = gimp_layer_new(id_, name.c_str(), width, height, GIMP_INDEXED_IMAGE,
                                        100.0, GIMP_LAYER_MODE_NORMAL);
    if (layer < 0 || !gimp_image_insert_layer(id_, layer, 0, position)) {
      throw Refusal{"GIMP cannot add a layer to the image"};
    }
    return layer;
  }

 private:
  gint32 id_;
};

// Copies every line of plane `plane` into `layer`, a strip at a time.
void fillLayer(ImageReader& reader, int plane, gint32 layer, double done, double share) {
  const unsigned int width = reader.width(), height = reader.height();
  const unsigned int strip = static_cast<unsigned int>(
      std::clamp<std::size_t>(kStripBytes / width, 1, height));
  std::vector<unsigned char> lines(std::size_t{strip} * width);
  GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
  const Babl* format = gimp_drawable_get_format(layer);
  try {
    for (unsigned int y = 0; y < height; y += strip) {
      const unsigned int count = std::min(strip, height - y);
      reader.readLines(plane, y, count, lines.data());
      const GeglRectangle rect = {0, static_cast<gint>(y), static_cast<gint>(width),
                                  static_cast<gint>(count)};
      gegl_buffer_set(buffer, &rect, 0, format, lines.data(), GEGL_AUTO_ROWSTRIDE);
      gimp_progress_update(done + share * (y + count) / height);
    }
  } catch (...) {
    g_object_unref(buffer);
    throw;
  }
  g_object_unref(buffer);
}

}  // namespace

gint32 openImage(const char* path, bool interactive) {
  OpenFile file(path);
  requireSize(*readLayout(file.descriptor()), true);
  const int policy = policyFor(file.descriptor(), interactive);
  ImageReader reader(file.descriptor(), policy);
  const unsigned int width = reader.width(), height = reader.height();
  const std::string name = path;
  gimp_progress_init(("Opening '" + name.substr(name.rfind('/') + 1) + "'").c_str());
  NewImage image(width, height, reader);
  gimp_image_set_filename(image.id(), path);
  const int planes = reader.planes();
  for (int p = 1; p <= planes; ++p) {
    const gint32 layer = image.addLayer("plane " + std::to_string(p), static_cast<int>(width),
                                        static_cast<int>(height), p - 1);
    fillLayer(reader, p, layer, double(p - 1) / planes, 1.0 / planes);
  }
  gimp_progress_update(1.0);
  return image.keep();
}

gint32 openThumbnail(const char* path, int size, int* width, int* height, int* planes) {
  if (size <= 0) throw Refusal{"The thumbnail size must be above 0"};
  OpenFile file(path);
  const std::unique_ptr<ImageReader> layout = readLayout(file.descriptor());
  requireSize(*layout, false);
  const btreeimg::sampling::Size picture = btreeimg::sampling::fitWithin(
      layout->width(), layout->height(), static_cast<std::uint32_t>(size));
  requireSize(*layout, false, picture);
  policyFor(file.descriptor(), false);
  ImageReader sound(file.descriptor());
  NewImage image(picture.width, picture.height, sound);
  const gint32 layer = image.addLayer("plane 1", static_cast<int>(picture.width),
                                      static_cast<int>(picture.height), 0);
  GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
  const Babl* format = gimp_drawable_get_format(layer);
  try {
    btreeimg::sampling::sampleRows(sound, 1, picture, [&](std::uint32_t y, const unsigned char* row) {
      const GeglRectangle rect = {0, static_cast<gint>(y), static_cast<gint>(picture.width), 1};
      gegl_buffer_set(buffer, &rect, 0, format, row, GEGL_AUTO_ROWSTRIDE);
    });
  } catch (...) {
    g_object_unref(buffer);
    throw;
  }
  g_object_unref(buffer);
  // A version-4 image may state sides beyond what GIMP's integers hold.
  *width = static_cast<int>(std::min<unsigned int>(sound.width(), INT_MAX));
  *height = static_cast<int>(std::min<unsigned int>(sound.height(), INT_MAX));
  *planes = sound.planes();
  return image.keep();
}

}  // namespace gimpplugin
