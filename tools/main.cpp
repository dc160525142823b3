// btreeimg: inspect, verify and convert multi-plane image files.
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "HelpFormat.h"
#include "ToolSupport.h"
#include "framework/Exceptions.h"

#ifndef BTREEIMG_TOOL_VERSION
#define BTREEIMG_TOOL_VERSION "unknown"
#endif

namespace {

constexpr const char* kExitStatuses =
    "Exit status:\n"
    "  0  done (check: no problem found; diff: the images are equal)\n"
    "  1  check found structural problems; diff: the images differ\n"
    "  2  an input cannot be used: unreadable, not an image file, a PNG\n"
    "     that cannot be imported, a bad rule file, a plane the image lacks\n"
    "  3  an output could not be written (nothing is left half-written)\n"
    "  4  the command line was not understood";

// Registers the commands on `app`; `run` receives the chosen one.
struct Commands {
  std::vector<std::string> files;
  std::vector<std::string> pngs;
  std::string file, output, rules, second;
  bool json = false;
  int plane = 0;
  int pack = 0;
  int size = 256;
};

CLI::App* command(CLI::App& app, const char* name, const char* description) {
  CLI::App* sub = app.add_subcommand(name, description);
  sub->footer(kExitStatuses);
  return sub;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Inspect, verify and convert multi-plane image files.",
               "btreeimg");
  app.formatter(std::make_shared<tool::HelpFormatter>());
  app.set_version_flag("--version", "btreeimg " BTREEIMG_TOOL_VERSION);
  app.set_help_all_flag("--help-all", "Print every command with its options "
                                      "and exit");
  app.require_subcommand(1);
  app.footer(kExitStatuses);
  Commands c;
  const auto packRange = CLI::IsMember({0, 1, 2});

  CLI::App* info = command(app, "info",
                           "Version, planes (dimensions, encoding, block "
                           "position, region size) and colour map.");
  info->add_option("FILE", c.files, "image files")->required();
  info->add_flag("--json", c.json, "machine-readable output: a JSON array, "
                                   "one object per file");

  CLI::App* check = command(app, "check",
                            "Structural verification: one line per problem.");
  check->add_option("FILE", c.files, "image files")->required();

  CLI::App* topng = command(app, "topng",
                            "A plane as an 8-bit palette PNG through the "
                            "image's colour map; all planes side by side "
                            "when no plane is named.");
  topng->add_option("FILE", c.file, "image file")->required();
  topng->add_option("OUT", c.output, "PNG to write")->required();
  topng->add_option("--plane", c.plane, "plane to render, from 1")
      ->check(CLI::Range(1, 5));

  CLI::App* frompng = command(app, "frompng",
                              "PNGs into an image, one plane per PNG (1 to 5, "
                              "of one size). Palette PNGs keep their indices "
                              "and give the colour map; grey PNGs get a grey "
                              "ramp; RGB PNGs (opaque, 256 colours at most) "
                              "become exact palette images, the colours "
                              "listed in the order they first appear.");
  frompng->add_option("IN.png...OUT", c.pngs,
                      "1 to 5 PNG files, one per plane, then the image file "
                      "to write")
      ->required()
      ->expected(2, 6)
      ->type_name("");
  frompng->add_option("--pack", c.pack,
                      "encoding: 0 raw, 1 packed, 2 whole-plane packed")
      ->check(packRange)
      ->capture_default_str();

  CLI::App* repack = command(app, "repack", "Every plane re-encoded.");
  repack->add_option("FILE", c.file, "image file")->required();
  repack->add_option("OUT", c.output, "image file to write")->required();
  repack->add_option("--pack", c.pack,
                     "encoding: 0 raw, 1 packed, 2 whole-plane packed")
      ->required()
      ->check(packRange);

  CLI::App* cover = command(app, "cover",
                            "Colour coverage of plane 1 by the rules in "
                            "RULES (lines \"COLCOPER n\", \"COLTEST n\", "
                            "\"COLSOST n\"); says whether anything changed. "
                            "OUT is written only when something changed.");
  cover->add_option("FILE", c.file, "image file")->required();
  cover->add_option("RULES", c.rules, "rule file")->required();
  cover->add_option("OUT", c.output, "image file to write (may be FILE)")
      ->required();

  CLI::App* diff = command(app, "diff",
                           "Compares two images by their pixels and colour "
                           "map, whatever their versions and encodings: per "
                           "plane, whether the dimensions differ, how many "
                           "pixels differ and where the first is; which "
                           "colour-map entries differ. Exit status 0 when "
                           "equal, 1 when they differ.");
  diff->add_option("A", c.file, "first image file")->required();
  diff->add_option("B", c.second, "second image file")->required();
  diff->add_flag("--json", c.json, "machine-readable output: one JSON object");

  CLI::App* thumbnail = command(app, "thumbnail",
                                "Plane 1 fitted into SIZE x SIZE with its "
                                "aspect ratio kept (never enlarged), as a "
                                "palette PNG through the image's colour map; "
                                "only the sampled lines are read. For the "
                                "desktop's thumbnailers.");
  thumbnail->add_option("FILE", c.file, "image file")->required();
  thumbnail->add_option("OUT", c.output, "PNG to write")->required();
  thumbnail->add_option("-s,--size", c.size, "the square to fit, in pixels")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? tool::kOk : tool::kUsage;
  }

  try {
    if (info->parsed()) return tool::runInfo(c.files, c.json);
    if (check->parsed()) return tool::runCheck(c.files);
    if (topng->parsed()) return tool::runToPng(c.file, c.output, c.plane);
    if (frompng->parsed()) {
      const std::string out = c.pngs.back();
      c.pngs.pop_back();
      return tool::runFromPng(c.pngs, out, c.pack);
    }
    if (repack->parsed()) return tool::runRepack(c.file, c.output, c.pack);
    if (cover->parsed()) return tool::runCover(c.file, c.rules, c.output);
    if (thumbnail->parsed()) return tool::runThumbnail(c.file, c.output, c.size);
    if (diff->parsed()) return tool::runDiff(c.file, c.second, c.json);
  } catch (const tool::Failure& f) {
    std::cerr << "btreeimg: " << f.message << '\n';
    return f.status;
  } catch (CException* e) {
    std::cerr << "btreeimg: " << tool::takeMessage(e) << '\n';
    return tool::kBadInput;
  } catch (const std::exception& e) {
    std::cerr << "btreeimg: " << e.what() << '\n';
    return tool::kBadInput;
  }
  return tool::kUsage;
}
