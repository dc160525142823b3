#include "HelpFormat.h"

#include <cctype>
#include <sstream>

namespace tool {

namespace {

// Paragraph text starts in this column: help2man takes a line indented by
// 20 or more after a tag line as the tag's paragraph.
constexpr std::size_t kIndent = 22;
constexpr std::size_t kWidth = 79;

// `text` filled into lines of kWidth columns, each indented by kIndent.
std::string fill(const std::string& text) {
  std::istringstream words(text);
  std::string out, line, word;
  while (words >> word) {
    if (!line.empty() && kIndent + line.size() + 1 + word.size() > kWidth) {
      out += std::string(kIndent, ' ') + line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) out += std::string(kIndent, ' ') + line + '\n';
  return out;
}

// The option as the synopsis shows it: "FILE...", "--json", "--pack PACK".
std::string synopsisWord(const CLI::Option* option) {
  if (option->get_positional()) {
    const std::string name = option->get_name();
    const bool many = option->get_items_expected_max() > 1 && name.find("...") == std::string::npos;
    return name + (many ? "..." : "");
  }
  const std::string name = "--" + option->get_lnames().front();
  if (option->get_expected_max() == 0) return name;  // a flag
  std::string value = option->get_lnames().front();
  for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name + " " + value;
}

}  // namespace

std::string HelpFormatter::make_help(const CLI::App* app, std::string name,
                                     CLI::AppFormatMode mode) const {
  if (mode != CLI::AppFormatMode::All || app->get_parent() != nullptr) {
    return CLI::Formatter::make_help(app, name, mode);
  }
  std::string out = make_description(app) + make_usage(app, name) + "\nCommands:\n";
  for (const CLI::App* command : app->get_subcommands({})) out += commandEntry(command);
  out += "\n" + app->get_footer() + "\n\n";
  out += make_groups(app, mode);
  return out;
}

std::string HelpFormatter::make_option_usage(const CLI::Option* option) const {
  const std::string word = synopsisWord(option);
  return option->get_required() ? word : "[" + word + "]";
}

std::string HelpFormatter::commandEntry(const CLI::App* command) const {
  std::string synopsis = "  " + command->get_parent()->get_name() + " " + command->get_name();
  std::string text = command->get_description();
  for (const CLI::Option* option : command->get_options()) {
    if (option == command->get_help_ptr() || option == command->get_help_all_ptr()) continue;
    const std::string word = synopsisWord(option);
    const bool optional = !option->get_positional() && !option->get_required();
    synopsis += " " + (optional ? "[" + word + "]" : word);
    if (option->get_positional()) continue;
    text += " " + word + ": " + option->get_description();
    if (!option->get_default_str().empty()) text += " (default " + option->get_default_str() + ")";
    text += ".";
  }
  return synopsis + "\n" + fill(text);
}

}  // namespace tool
