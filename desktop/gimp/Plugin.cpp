// The plug-in's entry points: GIMP runs the program once to learn its
// procedures (query), then once for each call of one of them (run).
//
// Three procedures: opening a file (registered by the extension .dis, by
// the bytes the file starts with, and by the MIME type image/x-btreeimg),
// the small picture GIMP's open dialog shows beside a file, and exporting.
#include <libgimp/gimp.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "Plugin.h"
#include "framework/Exceptions.h"
#include "image/ImageReader.h"

namespace gimpplugin {

int encodingNamed(const char* name) {
  const std::string text = name == nullptr ? "" : name;
  if (text.empty() || text == "auto") return -1;
  if (text == "raw" || text == "0") return 0;
  if (text == "packed" || text == "1") return 1;
  if (text == "whole-plane packed" || text == "whole" || text == "2") return 2;
  throw Refusal{"Unknown encoding \"" + text +
                "\": the planes are stored \"raw\", \"packed\" or \"whole-plane packed\", "
                "or \"auto\" (each plane packed while its code fits in the room of a raw "
                "plane, else raw)"};
}

}  // namespace gimpplugin

namespace {

using namespace gimpplugin;

constexpr const char* kAuthor = "btreeimg developers";
constexpr const char* kDate = "2026";
constexpr const char* kMimeType = "image/x-btreeimg";
constexpr const char* kExtension = "dis";
// Export keeps its options between runs under this name.
constexpr const char* kLastOptions = "file-btreeimg-save-options";

// The bytes a file starts with: the version word (2, 3 or 4, little-endian)
// at offset 0 and the plane count (1 to 5, little-endian) at offset 1000.
// GIMP reads "short" values big-endian, so a little-endian 2 is 512; a
// triple whose offset ends in '&' must hold together with the next one.
std::string magic() {
  std::string text;
  for (int version = 2; version <= 4; ++version) {
    for (int planes = 1; planes <= 5; ++planes) {
      if (!text.empty()) text += ',';
      text += "0&,short," + std::to_string(version * 256) + ",1000,short," +
              std::to_string(planes * 256);
    }
  }
  return text;
}

void query() {
  static const GimpParamDef openArgs[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_STRING, const_cast<gchar*>("filename"), const_cast<gchar*>("The file to open")},
      {GIMP_PDB_STRING, const_cast<gchar*>("raw-filename"),
       const_cast<gchar*>("The name entered")},
  };
  static const GimpParamDef openResults[] = {
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("The image opened")},
  };
  static const GimpParamDef thumbArgs[] = {
      {GIMP_PDB_STRING, const_cast<gchar*>("filename"), const_cast<gchar*>("The file to open")},
      {GIMP_PDB_INT32, const_cast<gchar*>("thumb-size"),
       const_cast<gchar*>("The square the picture fits in, in pixels")},
  };
  static const GimpParamDef thumbResults[] = {
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("The picture")},
      {GIMP_PDB_INT32, const_cast<gchar*>("image-width"),
       const_cast<gchar*>("The image's width")},
      {GIMP_PDB_INT32, const_cast<gchar*>("image-height"),
       const_cast<gchar*>("The image's height")},
      {GIMP_PDB_INT32, const_cast<gchar*>("image-type"),
       const_cast<gchar*>("The layers' type (INDEXED-IMAGE)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("num-layers"),
       const_cast<gchar*>("The number of planes")},
  };
  static const GimpParamDef exportArgs[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), "
                          "RUN-WITH-LAST-VALS (2) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("The image to export")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"),
       const_cast<gchar*>("Not used: every layer becomes a plane")},
      {GIMP_PDB_STRING, const_cast<gchar*>("filename"),
       const_cast<gchar*>("The file to write")},
      {GIMP_PDB_STRING, const_cast<gchar*>("raw-filename"),
       const_cast<gchar*>("The name entered")},
      {GIMP_PDB_STRING, const_cast<gchar*>("encoding"),
       const_cast<gchar*>("How every plane is stored: \"raw\", \"packed\", \"whole-plane "
                          "packed\", or \"auto\" (the default: each plane packed while its "
                          "code fits in the room of a raw plane, else raw)")},
  };

  gimp_install_procedure(
      kOpenProcedure, "Opens a multi-plane raster image",
      "Opens the file as an indexed image with the file's colour map, one layer per "
      "plane (\"plane 1\" on top). A damaged file is refused with the first problem "
      "found; interactively, it may then be opened as the library reads it.",
      kAuthor, kAuthor, kDate, "Multi-plane raster image", nullptr, GIMP_PLUGIN,
      G_N_ELEMENTS(openArgs), G_N_ELEMENTS(openResults), openArgs, openResults);
  gimp_register_file_handler_mime(kOpenProcedure, kMimeType);
  gimp_register_magic_load_handler(kOpenProcedure, kExtension, "", magic().c_str());

  gimp_install_procedure(
      kThumbProcedure, "A small picture of a multi-plane raster image",
      "Plane 1 sampled to fit the square, as the image's other thumbnail makers sample it.",
      kAuthor, kAuthor, kDate, nullptr, nullptr, GIMP_PLUGIN, G_N_ELEMENTS(thumbArgs),
      G_N_ELEMENTS(thumbResults), thumbArgs, thumbResults);
  gimp_register_thumbnail_loader(kOpenProcedure, kThumbProcedure);

  gimp_install_procedure(
      kExportProcedure, "Exports a multi-plane raster image",
      "Exports every layer as a plane (the top layer as plane 1) with the colour map. "
      "The image must be indexed or grey (grey exports with a grey ramp as colour map); "
      "its 1 to 5 layers must have one size and one offset. The file is replaced only "
      "once the new one is complete.",
      kAuthor, kAuthor, kDate, "Multi-plane raster image", "RGB*, GRAY*, INDEXED*",
      GIMP_PLUGIN, G_N_ELEMENTS(exportArgs), 0, exportArgs, nullptr);
  gimp_register_file_handler_mime(kExportProcedure, kMimeType);
  gimp_register_save_handler(kExportProcedure, kExtension, "");
}

// The return values of one run: the status, and the error text or the
// procedure's results.
struct Results {
  GimpParam values[6];
  std::string error;
  int count = 1;

  Results() {
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
  }
  void fail(GimpPDBStatusType status, const std::string& text) {
    values[0].data.d_status = status;
    error = text;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = const_cast<gchar*>(error.c_str());
    count = 2;
  }
  void addInt(GimpPDBArgType type, gint32 value) {
    values[count].type = type;
    values[count].data.d_int32 = value;
    ++count;
  }
};

void runExport(const GimpParam* param, int nparams, Results& results) {
  const auto mode = static_cast<GimpRunMode>(param[0].data.d_int32);
  ExportOptions options;
  if (mode == GIMP_RUN_NONINTERACTIVE) {
    options.encoding = encodingNamed(nparams >= 6 ? param[5].data.d_string : nullptr);
  } else {
    gimp_get_data(kLastOptions, &options);
  }
  if (mode == GIMP_RUN_INTERACTIVE && !askExportOptions(options)) {
    results.values[0].data.d_status = GIMP_PDB_CANCEL;
    return;
  }
  exportImage(param[1].data.d_image, param[3].data.d_string, options);
  if (mode == GIMP_RUN_INTERACTIVE) gimp_set_data(kLastOptions, &options, sizeof options);
}

// Runs procedure `name`, turning what it throws into an error for GIMP.
void dispatch(const gchar* name, gint nparams, const GimpParam* param, Results& results) {
  try {
    if (std::strcmp(name, kOpenProcedure) == 0 && nparams >= 2) {
      const bool interactive = param[0].data.d_int32 == GIMP_RUN_INTERACTIVE;
      results.addInt(GIMP_PDB_IMAGE, openImage(param[1].data.d_string, interactive));
    } else if (std::strcmp(name, kThumbProcedure) == 0 && nparams >= 2) {
      int width = 0, height = 0, planes = 0;
      const gint32 image = openThumbnail(param[0].data.d_string, param[1].data.d_int32,
                                         &width, &height, &planes);
      results.addInt(GIMP_PDB_IMAGE, image);
      results.addInt(GIMP_PDB_INT32, width);
      results.addInt(GIMP_PDB_INT32, height);
      results.addInt(GIMP_PDB_INT32, GIMP_INDEXED_IMAGE);
      results.addInt(GIMP_PDB_INT32, planes);
    } else if (std::strcmp(name, kExportProcedure) == 0 && nparams >= 5) {
      runExport(param, nparams, results);
    } else {
      results.fail(GIMP_PDB_CALLING_ERROR, std::string("Unknown procedure ") + name);
    }
  } catch (const Refusal& refusal) {
    results.fail(GIMP_PDB_EXECUTION_ERROR, refusal.text);
  } catch (CException* e) {
    const std::string text = btreeimg::describe(e, false).GetString();
    e->Delete();
    results.fail(GIMP_PDB_EXECUTION_ERROR, text);
  } catch (const std::bad_alloc&) {
    results.fail(GIMP_PDB_EXECUTION_ERROR, "Not enough memory");
  } catch (...) {
    results.fail(GIMP_PDB_EXECUTION_ERROR, "An unexpected failure");
  }
}

void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
         GimpParam** return_vals) {
  static Results results;
  results = Results();
  gegl_init(nullptr, nullptr);
  dispatch(name, nparams, param, results);
  *nreturn_vals = results.count;
  *return_vals = results.values;
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()
