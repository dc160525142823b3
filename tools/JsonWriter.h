// A small streaming JSON writer for the tool's machine-readable output:
// objects, arrays, strings (escaped), integers, booleans and null, with
// two-space indentation.
#ifndef BTREEIMG_TOOLS_JSONWRITER_H_
#define BTREEIMG_TOOLS_JSONWRITER_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  // Inside an object, every value is preceded by key(name).
  JsonWriter& key(std::string_view name) {
    separate();
    writeString(name);
    out_ << ": ";
    afterKey_ = true;
    return *this;
  }
  JsonWriter& beginObject() { return open('{'); }
  JsonWriter& endObject() { return close('}'); }
  JsonWriter& beginArray() { return open('['); }
  JsonWriter& endArray() { return close(']'); }
  JsonWriter& value(std::string_view text) {
    separate();
    writeString(text);
    return *this;
  }
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(std::uint64_t number) {
    separate();
    out_ << number;
    return *this;
  }
  JsonWriter& value(std::int64_t number) {
    separate();
    out_ << number;
    return *this;
  }
  JsonWriter& value(int number) { return value(std::int64_t{number}); }
  JsonWriter& value(unsigned number) { return value(std::uint64_t{number}); }
  JsonWriter& value(bool flag) {
    separate();
    out_ << (flag ? "true" : "false");
    return *this;
  }
  JsonWriter& null() {
    separate();
    out_ << "null";
    return *this;
  }
  // Ends the document with a line feed.
  void finish() { out_ << '\n'; }

 private:
  JsonWriter& open(char bracket) {
    separate();
    out_ << bracket;
    counts_.push_back(0);
    return *this;
  }
  JsonWriter& close(char bracket) {
    const bool empty = counts_.back() == 0;
    counts_.pop_back();
    if (!empty) newline();
    out_ << bracket;
    return *this;
  }
  // Writes what goes before a value or key: nothing after a key, else a
  // comma after an earlier element and a new line.
  void separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (counts_.empty()) return;
    if (counts_.back()++ != 0) out_ << ',';
    newline();
  }
  void newline() { out_ << '\n' << std::string(2 * counts_.size(), ' '); }
  // Valid UTF-8 passes through as it is; in text that is not (a file name
  // in another encoding), every byte from 0x80 is written as the code point
  // of the same number, so that the document stays valid.
  void writeString(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    const bool utf8 = isUtf8(text);
    out_ << '"';
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        out_ << '\\' << c;
      } else if (byte < 0x20 || (byte >= 0x80 && !utf8)) {
        out_ << "\\u00" << kHex[byte >> 4] << kHex[byte & 15];
      } else {
        out_ << c;
      }
    }
    out_ << '"';
  }
  static bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
      const auto lead = static_cast<unsigned char>(text[i]);
      const std::size_t length = lead < 0x80   ? 1
                                 : lead < 0xC2 ? 0
                                 : lead < 0xE0 ? 2
                                 : lead < 0xF0 ? 3
                                 : lead < 0xF5 ? 4
                                               : 0;
      if (length == 0 || text.size() - i < length) return false;
      for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
      }
      i += length;
    }
    return true;
  }

  std::ostream& out_;
  std::vector<unsigned> counts_;
  bool afterKey_ = false;
};

}  // namespace tool

#endif  // BTREEIMG_TOOLS_JSONWRITER_H_
