#include "CommandLine.h"

namespace tool {

CLI::App* addCommand(CLI::App& app, const char* name, const char* description) {
  CLI::App* command = app.add_subcommand(name, description);
  command->footer("Exit statuses: see btreeimg --help.");
  return command;
}

void addLenient(CLI::App* command, bool& lenient) {
  command->add_flag("--lenient", lenient,
                    "read a damaged image as the library reads it, after a warning (by "
                    "default a damaged image is refused, as 'btreeimg check' finds it)");
}

void addMaxPixels(CLI::App* command, std::uint64_t& maxPixels) {
  command->add_option("--max-pixels", maxPixels,
                      "read or make no plane that costs more pixels than N, its width x height "
                      "(at least its line count and its width), so that a small file stating a huge plane is "
                      "refused at once (status 2); 0: no limit")
      ->type_name("N")
      ->capture_default_str();
}

}  // namespace tool
