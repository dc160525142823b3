// btreeimg: inspect, verify and convert multi-plane image files.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Commands.h"
#include "HelpFormat.h"
#include "Failure.h"
#include "framework/Exceptions.h"

#ifndef BTREEIMG_TOOL_VERSION
#define BTREEIMG_TOOL_VERSION "unknown"
#endif

namespace {

// What the tool says when the inputs need more memory than it can have.
constexpr const char* kOutOfMemory =
    "out of memory: the inputs need more memory than this process may have "
    "(--max-pixels lowers what a command reads)";

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
  // A write past the file-size limit (ulimit -f) fails with EFBIG instead of
  // killing the process: the save then reports it (status 3) and removes its
  // temporary file, leaving the output as it was.
  std::signal(SIGXFSZ, SIG_IGN);
  CLI::App app("Inspect, verify and convert multi-plane image files.", "btreeimg");
  app.formatter(std::make_shared<tool::HelpFormatter>());
  app.set_version_flag("--version", "btreeimg " BTREEIMG_TOOL_VERSION);
  app.set_help_all_flag("--help-all", "Print every command with its options and exit");
  app.require_subcommand(1);
  app.footer(kExitStatuses);
  tool::Runner run;
  for (auto add : {tool::addInfo, tool::addCheck, tool::addToPng, tool::addFromPng,
                   tool::addRepack, tool::addCover, tool::addDiff, tool::addThumbnail}) {
    add(app, run);
  }

  if (refuseUnknownCommand(app, argc, argv)) return tool::kUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and the version go out as CLI11 prints them; a command line not
    // understood is said the way the tool says everything else.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      return app.exit(e) == 0 ? tool::kOk : tool::kUsage;
    }
    std::cerr << "btreeimg: " << e.what()
              << "\nRun with --help or --help-all for more information.\n";
    return tool::kUsage;
  }
  if (!run) return tool::kUsage;
  try {
    return run();
  } catch (const tool::Failure& f) {
    std::cerr << "btreeimg: " << f.message << '\n';
    if (!f.hint.empty()) std::cerr << "btreeimg: " << f.hint << '\n';
    return f.status;
  } catch (CMemoryException* e) {
    e->Delete();
    std::cerr << "btreeimg: " << kOutOfMemory << '\n';
    return tool::kBadInput;
  } catch (CException* e) {
    std::cerr << "btreeimg: " << tool::takeMessage(e) << '\n';
    return tool::kBadInput;
  } catch (const std::bad_alloc&) {
    std::cerr << "btreeimg: " << kOutOfMemory << '\n';
    return tool::kBadInput;
  } catch (const std::exception& e) {
    std::cerr << "btreeimg: " << e.what() << '\n';
    return tool::kBadInput;
  }
}
