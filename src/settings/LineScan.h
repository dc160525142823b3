// Reading the library's text tables: opening one, and splitting one line
// into a key and a value. Internal: not installed.
//
// These are hand-written equivalents of the scanf formats the file formats
// are defined by; they are faster and never write past anything. A line is
// a NUL-terminated text as CStdioFile::ReadString delivers it: at most 254
// characters, usually ending in its line feed. Like the scanf family they
// see the text only up to its first NUL.
#ifndef BTREEIMG_SETTINGS_LINESCAN_H_
#define BTREEIMG_SETTINGS_LINESCAN_H_

#include <sys/stat.h>

#include <cstddef>
#include <string_view>

#include "framework/CStdioFile.h"

namespace btreeimg::detail {

// Size of the line buffer of the table readers, and the count to pass to
// CStdioFile::ReadString so that one read takes at most 254 characters.
constexpr std::size_t kLineBufferSize = 256;
constexpr unsigned kLineReadCount = 255;

// Opens the table file `fileName` for reading as text; false when it is not
// opened. A name that is not a regular file (a FIFO, a device, a socket, a
// folder) is not opened at all: a FIFO would wait for a writer that may
// never come, and a device could be read without end.
inline bool openTable(CStdioFile& file, const char* fileName) {
  struct stat info {};
  if (fileName != nullptr && ::stat(fileName, &info) == 0 && !S_ISREG(info.st_mode)) {
    return false;
  }
  return file.Open(fileName, CFile::modeRead | CFile::typeText) != FALSE;
}

// White space as the scanf family knows it in the "C" locale.
inline bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

struct KeyValue {
  std::string_view key;
  std::string_view value;
};

// What sscanf(line, "%<keyMax>s %<valueMax>[^\n]s", key, value) leaves in two
// emptied buffers (no width when the maximum is npos): the key is the first
// run of non-white characters after any leading white space, at most keyMax
// of them; the value starts after the white space that follows the key (a
// key cut by its width is followed by no white space: its other characters
// begin the value) and runs up to, not including, the line feed, at most
// valueMax characters. A line of white space only gives an empty key and an
// empty value; a key with nothing after it gives an empty value.
inline KeyValue scanKeyValue(const char* line,
                             std::size_t keyMax = std::string_view::npos,
                             std::size_t valueMax = std::string_view::npos) {
  KeyValue out;
  const char* p = line;
  while (*p != '\0' && isScanSpace(*p)) ++p;
  const char* key = p;
  while (*p != '\0' && !isScanSpace(*p) &&
         static_cast<std::size_t>(p - key) < keyMax) {
    ++p;
  }
  out.key = std::string_view(key, static_cast<std::size_t>(p - key));
  if (out.key.empty()) return out;
  while (*p != '\0' && isScanSpace(*p)) ++p;
  const char* value = p;
  while (*p != '\0' && *p != '\n' &&
         static_cast<std::size_t>(p - value) < valueMax) {
    ++p;
  }
  out.value = std::string_view(value, static_cast<std::size_t>(p - value));
  return out;
}

// `text` up to, not including, its first `c` (the whole text when it has
// none).
inline std::string_view cutAt(std::string_view text, char c) {
  const std::size_t at = text.find(c);
  return at == std::string_view::npos ? text : text.substr(0, at);
}

// The separator form of a key-to-string table, with separator `sep`.
// Returns false when the line yields no entry.
//
// Key: the longest run at the start of the line of characters that are
// neither `sep` nor an apostrophe (no white space is skipped; a line that
// begins with either gives an empty key).
// Value: the line is split at `sep` as strtok(line, {sep}) would split it;
// T is its first token. Without a token (the line is separators only, with
// no line feed) the value is empty. A T that runs to the end of the line
// (no separator follows it) drops the line. Otherwise the value is the
// line's text from position length(T) + 1 to its end, cut at its first
// carriage return or, without one, at its first line feed.
inline bool scanSeparated(const char* line, char sep, KeyValue* out) {
  const std::string_view text(line);
  std::size_t keyEnd = 0;
  while (keyEnd < text.size() && text[keyEnd] != sep && text[keyEnd] != '\'') {
    ++keyEnd;
  }
  out->key = text.substr(0, keyEnd);
  // strtok: skip the separators in front of the first token.
  std::size_t at = 0;
  if (sep != '\0') {
    while (at < text.size() && text[at] == sep) ++at;
  }
  if (at == text.size()) {
    out->value = std::string_view();
    return true;
  }
  const std::size_t tokenStart = at;
  while (at < text.size() && text[at] != sep) ++at;
  if (at == text.size()) return false;
  // The token ends at a separator, so length(T) + 1 <= text.size().
  std::string_view value = text.substr(at - tokenStart + 1);
  value = value.find('\r') != std::string_view::npos ? cutAt(value, '\r')
                                                     : cutAt(value, '\n');
  out->value = value;
  return true;
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_SETTINGS_LINESCAN_H_
