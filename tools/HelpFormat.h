// The layout of `btreeimg --help-all`: every command as one entry (its
// synopsis, then what it does and what its options mean, as one
// paragraph), then the exit statuses and the options. help2man reads this
// output to make the manual page btreeimg.1: "Commands:" and "Exit status:"
// become sub-sections, each command a tagged paragraph. Every other help
// keeps CLI11's own layout.
#ifndef BTREEIMG_TOOLS_HELPFORMAT_H_
#define BTREEIMG_TOOLS_HELPFORMAT_H_

#include <CLI/CLI.hpp>

#include <string>

namespace tool {

class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
  // A positional in the usage line: "FILE...", or a name that says its own
  // count ("IN.png... OUT") as it stands, never "NAME(2x)".
  std::string make_option_usage(const CLI::Option* option) const override;

 private:
  // "  btreeimg NAME ARGS..." and the paragraph below it.
  std::string commandEntry(const CLI::App* command) const;
};

}  // namespace tool

#endif  // BTREEIMG_TOOLS_HELPFORMAT_H_
