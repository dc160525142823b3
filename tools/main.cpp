// btreeimg: inspect, verify and convert multi-plane image files.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "HelpFormat.h"
#include "ToolSupport.h"
#include "framework/Exceptions.h"
#include "image/ImageWriter.h"

#ifndef BTREEIMG_TOOL_VERSION
#define BTREEIMG_TOOL_VERSION "unknown"
#endif

namespace {

constexpr const char* kExitStatuses =
    "Exit status:\n"
    "  0  done (check: no problem found; diff: the images are equal)\n"
    "  1  check found structural problems; diff: the images differ\n"
    "  2  an input cannot be used: unreadable, not a regular file, not an\n"
    "     image file, damaged (unless --lenient), over the pixel limit\n"
    "     (unless --max-pixels), a PNG that cannot be imported, a bad rule\n"
    "     file, a plane the image lacks\n"
    "  3  an output could not be written (nothing is left half-written)\n"
    "  4  the command line was not understood";

constexpr const char* kLenient =
    "read a damaged image as the library reads it, after a warning (by "
    "default a damaged image is refused, as 'btreeimg check' finds it)";

// The options and arguments of every command.
struct Commands {
  std::vector<std::string> files;
  std::vector<std::string> pngs;
  std::string file, output, rules, second;
  bool json = false;
  bool lenient = false;
  int plane = 0;
  int pack = btreeimg::ImageWriter::kChooseEncoding;
  int size = 256;
  std::uint64_t maxPixels = tool::kPixelLimit;
};

constexpr const char* kMaxPixels =
    "read no plane that costs more pixels than N, its width x height (at "
    "least its line count), so that a small file stating a huge plane is "
    "refused at once (status 2); 0: no limit";

void addMaxPixels(CLI::App* command, Commands& c) {
  command->add_option("--max-pixels", c.maxPixels, kMaxPixels)
      ->type_name("N")
      ->capture_default_str();
}

CLI::App* command(CLI::App& app, const char* name, const char* description) {
  CLI::App* sub = app.add_subcommand(name, description);
  sub->footer("Exit statuses: see btreeimg --help.");
  return sub;
}

// The commands' names, "info, check, ...".
std::string commandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({})) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  return names;
}

// A command line whose first word that is no option names no command
// (or that has no such word and asks for no help): says so, with the
// commands there are. Returns whether it did.
bool refuseUnknownCommand(const CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "-h" || word == "--help" || word == "--help-all" || word == "--version") return false;
    if (word.empty() || word[0] == '-') continue;
    const auto commands = app.get_subcommands({});
    if (std::any_of(commands.begin(), commands.end(),
                    [&word](const CLI::App* sub) { return sub->check_name(word); })) {
      return false;
    }
    std::cerr << "btreeimg: unknown command '" << word << "'; the commands are " << commandNames(app)
              << "\nRun with --help or --help-all for more information.\n";
    return true;
  }
  std::cerr << "btreeimg: a command is required: " << commandNames(app)
            << "\nRun with --help or --help-all for more information.\n";
  return true;
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
  addMaxPixels(info, c);

  CLI::App* check = command(app, "check",
                            "Structural verification: one line per problem.");
  check->add_option("FILE", c.files, "image files")->required();

  CLI::App* topng = command(app, "topng",
                            "A plane as an 8-bit palette PNG through the "
                            "image's colour map; all planes side by side "
                            "when no plane is named.");
  topng->add_option("FILE", c.file, "image file")->required();
  topng->add_option("OUT", c.output, "PNG to write; - for the standard output")->required();
  topng->add_option("--plane", c.plane, "plane to render, from 1")
      ->check(CLI::Range(1, 5));
  topng->add_flag("--lenient", c.lenient, kLenient);
  addMaxPixels(topng, c);

  CLI::App* frompng = command(app, "frompng",
                              "PNGs into an image, one plane per PNG (1 to 5, "
                              "of one size). Palette PNGs keep their indices "
                              "and give the colour map; grey PNGs get a grey "
                              "ramp; RGB PNGs (opaque, 256 colours at most) "
                              "become exact palette images, the colours "
                              "listed in the order they first appear.");
  // One list: CLI11 would give a list of PNGs every word, the output too.
  frompng->add_option("IN.png... OUT", c.pngs,
                      "1 to 5 PNG files, one per plane, then the image file "
                      "to write")
      ->required()
      ->expected(1, -1)
      ->option_text("REQUIRED");
  frompng->add_option("--pack", c.pack,
                      "encoding of every plane: 0 raw, 1 packed, 2 whole-plane "
                      "packed (default: each plane packed while its code fits "
                      "in the room of a raw plane, else raw)")
      ->check(packRange);

  CLI::App* repack = command(app, "repack", "Every plane re-encoded.");
  repack->add_option("FILE", c.file, "image file")->required();
  repack->add_option("OUT", c.output, "image file to write")->required();
  repack->add_option("--pack", c.pack,
                     "encoding: 0 raw, 1 packed, 2 whole-plane packed")
      ->required()
      ->check(packRange);
  repack->add_flag("--lenient", c.lenient, kLenient);
  addMaxPixels(repack, c);

  CLI::App* cover = command(app, "cover",
                            "Colour coverage of plane 1 by the rules in "
                            "RULES (lines \"COLCOPER n\", \"COLTEST n\", "
                            "\"COLSOST n\"); says whether anything changed. "
                            "OUT is written only when something changed. A "
                            "damaged image is refused ('repack --lenient' "
                            "makes a sound copy of what the library reads).");
  cover->add_option("FILE", c.file, "image file")->required();
  cover->add_option("RULES", c.rules, "rule file")->required();
  cover->add_option("OUT", c.output, "image file to write (may be FILE)")
      ->required();
  addMaxPixels(cover, c);

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
  diff->add_flag("--lenient", c.lenient, kLenient);
  addMaxPixels(diff, c);

  CLI::App* thumbnail = command(app, "thumbnail",
                                "Plane 1 fitted into SIZE x SIZE with its "
                                "aspect ratio kept (never enlarged), as a "
                                "palette PNG through the image's colour map; "
                                "only the sampled lines are read. For the "
                                "desktop's thumbnailers.");
  thumbnail->add_option("FILE", c.file, "image file")->required();
  thumbnail->add_option("OUT", c.output, "PNG to write; - for the standard output")->required();
  thumbnail->add_option("-s,--size", c.size, "the square to fit, in pixels")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  thumbnail->add_flag("--lenient", c.lenient, kLenient);
  thumbnail->add_option("--max-pixels", c.maxPixels,
                        "read no more pixels than N to make the thumbnail: the "
                        "lines sampled x their length; 0: no limit")
      ->type_name("N")
      ->capture_default_str();

  if (refuseUnknownCommand(app, argc, argv)) return tool::kUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? tool::kOk : tool::kUsage;
  }

  try {
    if (info->parsed()) return tool::runInfo(c.files, c.json, c.maxPixels);
    if (check->parsed()) return tool::runCheck(c.files);
    if (topng->parsed()) return tool::runToPng(c.file, c.output, c.plane, c.lenient, c.maxPixels);
    if (frompng->parsed()) {
      if (c.pngs.size() < 2 || c.pngs.size() > 6) {
        std::cerr << "btreeimg: frompng takes 1 to 5 PNG files (one per plane), then the "
                     "image file to write; "
                  << tool::counted(c.pngs.size(), "file was", "files were") << " given\n"
                  << "Run with --help or --help-all for more information.\n";
        return tool::kUsage;
      }
      const std::string out = c.pngs.back();
      c.pngs.pop_back();
      return tool::runFromPng(c.pngs, out, c.pack);
    }
    if (repack->parsed()) return tool::runRepack(c.file, c.output, c.pack, c.lenient, c.maxPixels);
    if (cover->parsed()) return tool::runCover(c.file, c.rules, c.output, c.maxPixels);
    if (thumbnail->parsed()) return tool::runThumbnail(c.file, c.output, c.size, c.lenient, c.maxPixels);
    if (diff->parsed()) return tool::runDiff(c.file, c.second, c.json, c.lenient, c.maxPixels);
  } catch (const tool::Failure& f) {
    std::cerr << "btreeimg: " << f.message << '\n';
    if (!f.hint.empty()) std::cerr << "btreeimg: " << f.hint << '\n';
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
