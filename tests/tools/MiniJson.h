// A minimal strict JSON reader for checking the tool's --json output. It
// accepts exactly the JSON grammar (objects, arrays, strings with escapes,
// numbers, true, false, null) and flattens the document into a map from
// JSON pointers ("/0/planes/1/width"; "" is the whole document) to values:
// a string's text, a number's or a literal's own spelling, "{}" for an
// object and "[N]" for an array of N items.
#ifndef BTREEIMG_TESTS_TOOLS_MINIJSON_H_
#define BTREEIMG_TESTS_TOOLS_MINIJSON_H_

#include <algorithm>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace tooltest {

using JsonValues = std::map<std::string, std::string>;

namespace json_detail {

// The text of a string token (its escapes are known to be sound).
inline std::string unescape(const std::string& quoted) {
  std::string out;
  for (std::size_t k = 1; k + 1 < quoted.size(); ++k) {
    if (quoted[k] != '\\') {
      out += quoted[k];
    } else if (quoted[++k] == 'u') {
      out += static_cast<char>(std::stoi(quoted.substr(k + 1, 4), nullptr, 16));
      k += 4;
    } else {
      out += "\"\\/\b\f\n\r\t"[std::string("\"\\/bfnrt").find(quoted[k])];
    }
  }
  return out;
}

// Reads the value that starts at token `i` into `out` under `path`.
inline bool flatten(const std::vector<std::string>& t, std::size_t& i, const std::string& path,
                    JsonValues& out, int depth) {
  if (i >= t.size() || depth > 64) return false;
  const std::string& first = t[i++];
  if (first == "{" || first == "[") {
    const bool object = first == "{";
    std::size_t n = 0;
    if (i < t.size() && t[i] == (object ? "}" : "]")) {
      ++i;
    } else {
      do {
        std::string key = std::to_string(n++);
        if (object) {
          if (i + 1 >= t.size() || t[i][0] != '"' || t[i + 1] != ":") return false;
          key = unescape(t[i]);
          i += 2;
        }
        if (!flatten(t, i, path + "/" + key, out, depth + 1)) return false;
      } while (i < t.size() && t[i] == "," && ++i != 0);  // past the comma
      if (i >= t.size() || t[i++] != (object ? "}" : "]")) return false;
    }
    out[path] = object ? "{}" : "[" + std::to_string(n) + "]";
    return true;
  }
  if (std::string("]}:,").find(first[0]) != std::string::npos) return false;
  out[path] = first[0] == '"' ? unescape(first) : first;
  return true;
}

}  // namespace json_detail

// The values of the document in `s`, or nothing when it is not valid JSON.
inline std::optional<JsonValues> parseJson(const std::string& s) {
  // One token: a structural character, a string, a number or a literal.
  static const std::regex token(
      R"([ \t\r\n]*([{}\[\]:,]|"(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*")"
      R"(|-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?|true|false|null))");
  std::vector<std::string> tokens;
  auto at = s.cbegin();
  for (std::smatch m; std::regex_search(at, s.cend(), m, token, std::regex_constants::match_continuous);
       at = m[0].second) {
    tokens.push_back(m[1]);
  }
  JsonValues values;
  std::size_t next = 0;
  if (std::any_of(at, s.cend(), [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; }) ||
      !json_detail::flatten(tokens, next, "", values, 0) || next != tokens.size()) {
    return std::nullopt;
  }
  return values;
}

}  // namespace tooltest

#endif  // BTREEIMG_TESTS_TOOLS_MINIJSON_H_
