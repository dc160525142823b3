// A minimal strict JSON parser for checking the tool's --json output: it
// accepts exactly the JSON grammar (objects, arrays, strings with escapes,
// numbers, true, false, null) and builds a tree of values.
#ifndef BTREEIMG_TESTS_TOOLS_MINIJSON_H_
#define BTREEIMG_TESTS_TOOLS_MINIJSON_H_

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tooltest {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool flag = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  // The member `key`; a null value when there is none.
  const Json& operator[](const std::string& key) const {
    static const Json none;
    const auto it = members.find(key);
    return it == members.end() ? none : it->second;
  }
  const Json& operator[](std::size_t i) const {
    static const Json none;
    return i < items.size() ? items[i] : none;
  }
};

class JsonParser {
 public:
  // The document in `text`, or nothing when it is not valid JSON.
  static std::optional<Json> parse(const std::string& text) {
    JsonParser parser(text);
    Json value;
    if (!parser.value(value)) return std::nullopt;
    parser.space();
    if (parser.at_ != text.size()) return std::nullopt;
    return value;
  }

 private:
  explicit JsonParser(const std::string& text) : s_(text) {}

  void space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' ||
                               s_[at_] == '\t' || s_[at_] == '\r')) {
      ++at_;
    }
  }
  bool take(char c) {
    space();
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool word(const char* w, Json& out, Json::Kind kind, bool flag) {
    const std::string text(w);
    if (s_.compare(at_, text.size(), text) != 0) return false;
    at_ += text.size();
    out.kind = kind;
    out.flag = flag;
    return true;
  }
  bool value(Json& out) {
    if (++depth_ > 64) return false;
    space();
    if (at_ >= s_.size()) return false;
    bool ok = false;
    const char c = s_[at_];
    if (c == '{') {
      ok = object(out);
    } else if (c == '[') {
      ok = array(out);
    } else if (c == '"') {
      out.kind = Json::kString;
      ok = string(out.text);
    } else if (c == 't') {
      ok = word("true", out, Json::kBool, true);
    } else if (c == 'f') {
      ok = word("false", out, Json::kBool, false);
    } else if (c == 'n') {
      ok = word("null", out, Json::kNull, false);
    } else {
      ok = number(out);
    }
    --depth_;
    return ok;
  }
  bool object(Json& out) {
    out.kind = Json::kObject;
    ++at_;
    if (take('}')) return true;
    do {
      std::string key;
      space();
      if (at_ >= s_.size() || s_[at_] != '"' || !string(key) || !take(':')) return false;
      if (!value(out.members[key])) return false;
    } while (take(','));
    return take('}');
  }
  bool array(Json& out) {
    out.kind = Json::kArray;
    ++at_;
    if (take(']')) return true;
    do {
      out.items.emplace_back();
      if (!value(out.items.back())) return false;
    } while (take(','));
    return take(']');
  }
  bool string(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      const char e = s_[at_++];
      static const std::string kSimple = "\"\\/bfnrt";
      if (kSimple.find(e) != std::string::npos) {
        out += e;
      } else if (e == 'u' && at_ + 4 <= s_.size()) {
        for (int i = 0; i < 4; ++i) {
          if (!std::isxdigit(static_cast<unsigned char>(s_[at_ + i]))) return false;
        }
        out += static_cast<char>(std::strtol(s_.substr(at_, 4).c_str(), nullptr, 16));
        at_ += 4;
      } else {
        return false;
      }
    }
    return false;
  }
  bool number(Json& out) {
    const std::size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    if (at_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[at_]))) return false;
    if (s_[at_] == '0') {
      ++at_;
    } else {
      while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    if (at_ < s_.size() && s_[at_] == '.') {
      ++at_;
      if (at_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[at_]))) return false;
      while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (at_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[at_]))) return false;
      while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    out.kind = Json::kNumber;
    out.number = std::strtod(s_.substr(start, at_ - start).c_str(), nullptr);
    return true;
  }

  const std::string& s_;
  std::size_t at_ = 0;
  int depth_ = 0;
};

}  // namespace tooltest

#endif  // BTREEIMG_TESTS_TOOLS_MINIJSON_H_
