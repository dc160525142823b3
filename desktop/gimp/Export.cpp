// Exporting a GIMP image as an image file: every layer becomes a plane, the
// top layer plane 1, as opening makes them, and the colour map comes along.
//
// The image must be indexed (its colour map is the file's, padded with
// black to 256 entries) or grey (the grey levels become the indices, with a
// grey ramp as colour map). An RGB image is refused with the way to make it
// indexed; so are layer groups, layers of different sizes or offsets, and
// more than 5 layers, in words. A layer's transparency is not kept: its
// pixels keep their indices (grey levels) whatever their alpha.
//
// The file is written through btreeimg::ImageWriter, a strip of lines at a
// time, and replaces the existing file only once complete: a refused or
// failed export leaves the file as it was.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Plugin.h"
#include "framework/Exceptions.h"
#include "image/ImageWriter.h"

namespace gimpplugin {

namespace {

using btreeimg::ImageWriter;

constexpr int kMostPlanes = 5;
// A strip of lines is taken from GIMP at a time; about this many bytes, and
// at least one line.
constexpr std::size_t kStripBytes = std::size_t{1} << 15;

// The layers of `image`, top first, and their common size and offset.
struct Planes {
  std::vector<gint32> layers;
  gint width = 0, height = 0;
};

std::string layerName(gint32 layer) {
  gchar* name = gimp_item_get_name(layer);
  std::string text = name != nullptr ? name : "";
  g_free(name);
  return "layer \"" + text + "\"";
}

std::string placeOf(gint32 layer) {
  gint x = 0, y = 0;
  gimp_drawable_offsets(layer, &x, &y);
  return std::to_string(gimp_drawable_width(layer)) + " x " +
         std::to_string(gimp_drawable_height(layer)) + " at (" + std::to_string(x) + ", " +
         std::to_string(y) + ")";
}

// Refuses an image that is not indexed or grey.
void requireIndexedOrGrey(gint32 image) {
  if (gimp_image_base_type(image) == GIMP_RGB) {
    throw Refusal{"An RGB image cannot be exported: the planes of this file hold indices "
                  "into a colour map of 256 colours. Convert the image first with "
                  "Image > Mode > Indexed."};
  }
}

// The layers as planes, or a refusal saying why they cannot be.
Planes planesOf(gint32 image) {
  gint count = 0;
  gint* ids = gimp_image_get_layers(image, &count);
  Planes planes;
  planes.layers.assign(ids, ids + count);
  g_free(ids);
  if (planes.layers.empty()) throw Refusal{"The image has no layer to export"};
  if (count > kMostPlanes) {
    throw Refusal{"The image has " + std::to_string(count) +
                  " layers; the file holds 1 to 5 planes, one per layer. Merge or delete "
                  "layers first."};
  }
  const gint32 first = planes.layers.front();
  for (const gint32 layer : planes.layers) {
    if (gimp_item_is_group(layer)) {
      throw Refusal{"The " + layerName(layer) +
                    " is a layer group; every layer becomes a plane, and a group is none. "
                    "Merge it down (Image > Merge Visible Layers) or take its layers out."};
    }
    if (placeOf(layer) != placeOf(first)) {
      throw Refusal{"The " + layerName(layer) + " is " + placeOf(layer) + ", the " +
                    layerName(first) + " (plane 1) is " + placeOf(first) +
                    "; the planes of an image have one size. Give the layers one size and "
                    "place (Layer > Layer to Image Size)."};
    }
  }
  planes.width = gimp_drawable_width(first);
  planes.height = gimp_drawable_height(first);
  return planes;
}

// The colour map to write: the image's, padded with black, or a grey ramp.
std::vector<unsigned char> colourMapOf(gint32 image) {
  std::vector<unsigned char> map(768, 0);
  if (gimp_image_base_type(image) == GIMP_GRAY) {
    for (int i = 0; i < 256; ++i) std::fill_n(&map[std::size_t(i) * 3], 3, i);
    return map;
  }
  gint colours = 0;
  guchar* own = gimp_image_get_colormap(image, &colours);
  if (own != nullptr) {
    std::memcpy(map.data(), own, std::size_t(std::clamp(colours, 0, 256)) * 3);
    g_free(own);
  }
  return map;
}

// Writes `layer` as plane `plane`: its indices (an indexed layer, alpha
// dropped) or grey levels, a strip at a time.
void writePlane(ImageWriter& writer, int plane, gint32 layer, double done, double share) {
  const bool indexed = gimp_drawable_is_indexed(layer);
  const Babl* format = indexed ? gimp_drawable_get_format(layer) : babl_format("Y' u8");
  const std::size_t step = static_cast<std::size_t>(babl_format_get_bytes_per_pixel(format));
  const std::size_t width = static_cast<std::size_t>(gimp_drawable_width(layer));
  const unsigned int height = static_cast<unsigned int>(gimp_drawable_height(layer));
  const unsigned int strip = static_cast<unsigned int>(
      std::clamp<std::size_t>(kStripBytes / (width * step), 1, height));
  std::vector<unsigned char> pixels(strip * width * step), line(width);
  GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
  try {
    for (unsigned int y = 0; y < height; y += strip) {
      const unsigned int count = std::min(strip, height - y);
      const GeglRectangle rect = {0, static_cast<gint>(y), static_cast<gint>(width),
                                  static_cast<gint>(count)};
      gegl_buffer_get(buffer, &rect, 1.0, format, pixels.data(), GEGL_AUTO_ROWSTRIDE,
                      GEGL_ABYSS_NONE);
      for (unsigned int i = 0; i < count; ++i) {
        const unsigned char* row = &pixels[std::size_t{i} * width * step];
        for (std::size_t x = 0; x < width; ++x) line[x] = row[x * step];
        writer.writeLine(plane, y + i, line.data());
      }
      gimp_progress_update(done + share * (y + count) / height);
    }
  } catch (...) {
    g_object_unref(buffer);
    throw;
  }
  g_object_unref(buffer);
}

// The refusal for what the writer threw: `start`, then its words. A plane
// whose code does not fit in the encoding chosen (a packed plane line by
// line, a whole-plane packed one when the image is completed) is an invalid
// file to the writer; the refusal then says how to export it. Releases `e`.
Refusal refusalOf(CException* e, const std::string& start, const ExportOptions& options) {
  const auto* file = dynamic_cast<const CFileException*>(e);
  const bool tooLarge = file != nullptr && file->m_cause == CFileException::invalidFile &&
                        options.encoding != ImageWriter::kChooseEncoding;
  Refusal refusal{start + btreeimg::describe(e, false).GetString()};
  e->Delete();
  if (tooLarge) {
    refusal.text += ". Export it raw, or with the automatic encoding, which stores such a "
                    "plane raw.";
  }
  return refusal;
}

}  // namespace

void exportImage(gint32 image, const char* path, const ExportOptions& options) {
  requireIndexedOrGrey(image);
  const Planes planes = planesOf(image);
  const int count = static_cast<int>(planes.layers.size());
  const std::string name = path;
  gimp_progress_init(("Exporting '" + name.substr(name.rfind('/') + 1) + "'").c_str());
  ImageWriter writer(path, options.encoding, static_cast<unsigned int>(planes.width),
                     static_cast<unsigned int>(planes.height), count);
  writer.setColourMap(colourMapOf(image).data());
  for (int p = 1; p <= count; ++p) {
    try {
      writePlane(writer, p, planes.layers[std::size_t(p) - 1], double(p - 1) / count,
                 1.0 / count);
    } catch (CException* e) {
      throw refusalOf(e, "Plane " + std::to_string(p) + " cannot be written: ", options);
    }
  }
  try {
    writer.commit();
  } catch (CException* e) {
    throw refusalOf(e, "The image cannot be written: ", options);
  }
  gimp_progress_update(1.0);
}

bool askExportOptions(ExportOptions& options) {
  gimp_ui_init(kBinary, FALSE);
  GtkWidget* dialog = gimp_export_dialog_new("Multi-plane raster image", kBinary,
                                             kExportProcedure);
  GtkWidget* box = gtk_vbox_new(FALSE, 6);
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_box_pack_start(GTK_BOX(gimp_export_dialog_get_content_area(dialog)), box, TRUE, TRUE, 0);
  GtkWidget* label = gtk_label_new("Every layer becomes a plane, the top layer plane 1.\n"
                                   "Store the planes:");
  gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
  gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
  GtkWidget* combo = gimp_int_combo_box_new(
      "Each packed while smaller, else raw", -1, "Raw", 0, "Packed line by line", 1,
      "Packed as a whole plane", 2, static_cast<const char*>(nullptr));
  gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(combo), options.encoding);
  gtk_box_pack_start(GTK_BOX(box), combo, FALSE, FALSE, 0);
  gtk_widget_show_all(box);
  const bool ok = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
  gint chosen = options.encoding;
  gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(combo), &chosen);
  gtk_widget_destroy(dialog);
  if (ok) options.encoding = chosen;
  return ok;
}

}  // namespace gimpplugin
