// The GIMP file plug-in for the library's image files: what its three
// procedures (open, thumbnail, export) share. The procedures are registered
// and dispatched in Plugin.cpp, opening is in Open.cpp, exporting in
// Export.cpp.
//
// A procedure that cannot do its work throws Refusal with the sentence GIMP
// shows its user after "Opening 'name' failed:" (or "Exporting"); the
// dispatcher turns it, and whatever the library throws, into the error
// string GIMP expects. Nothing is thrown through GIMP's own C code.
#ifndef BTREEIMG_DESKTOP_GIMP_PLUGIN_H_
#define BTREEIMG_DESKTOP_GIMP_PLUGIN_H_

#include <libgimp/gimp.h>

#include <cstdint>
#include <string>

namespace gimpplugin {

// The names under which GIMP knows the plug-in and its procedures.
constexpr const char* kBinary = "file-btreeimg";
constexpr const char* kOpenProcedure = "file-btreeimg-load";
constexpr const char* kThumbProcedure = "file-btreeimg-load-thumb";
constexpr const char* kExportProcedure = "file-btreeimg-save";

// Why a procedure stops: one sentence for the user.
struct Refusal {
  std::string text;
};

// Opens the image file `path` as a new indexed image, one layer per plane,
// plane 1 on top. A damaged file is refused, unless `interactive` and the
// user then asks to open it as the library reads it. Returns the image.
gint32 openImage(const char* path, bool interactive);

// A picture of plane 1 fitted into a `size` x `size` square, as a new
// image of one layer. Sets the image's own size and plane count.
gint32 openThumbnail(const char* path, int size, int* width, int* height, int* planes);

// How export stores the planes: the encoding of every plane, or
// ImageWriter::kChooseEncoding (each plane packed while its code fits in the
// room of a raw plane, else raw).
struct ExportOptions {
  int encoding = -1;
};

// Parses an encoding as scripts name it: "" (or null) and "auto" for the
// choice plane by plane, "raw", "packed", "whole-plane packed" (or "whole"),
// or the tool's numbers "0", "1", "2". Throws Refusal for anything else.
int encodingNamed(const char* name);

// Asks the user for the export options, starting from `options`. Returns
// false when the user cancels.
bool askExportOptions(ExportOptions& options);

// Exports every layer of `image` as a plane of the image file `path`,
// replacing it only once the new file is complete.
void exportImage(gint32 image, const char* path, const ExportOptions& options);

}  // namespace gimpplugin

#endif  // BTREEIMG_DESKTOP_GIMP_PLUGIN_H_
