#include "framework/CString.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "framework/FormatText.h"
#include "framework/ThrowHelpers.h"

using btreeimg::detail::throwInvalidArgument;

namespace {

int compareBytes(const char* a, const char* b) {
  return std::strcmp(a, b);  // strcmp compares as unsigned char
}

char upperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)); }

}  // namespace

CString::CString(const char* text) : text_(text ? text : "") {}
CString::CString(const char* text, int length)
    : text_(text && length > 0 ? std::string(text, length) : std::string()) {}
CString::CString(char ch, int repeat)
    : text_(repeat > 0 ? static_cast<std::size_t>(repeat) : 0, ch) {}
CString::~CString() = default;

CString& CString::operator=(const char* text) {
  text_ = text ? text : "";
  return *this;
}

CString& CString::operator=(char ch) {
  text_.assign(1, ch);
  return *this;
}

char CString::GetAt(int index) const {
  if (index < 0 || index >= GetLength()) throwInvalidArgument("CString index");
  return text_[static_cast<std::size_t>(index)];
}

void CString::SetAt(int index, char ch) {
  if (index < 0 || index >= GetLength()) throwInvalidArgument("CString index");
  text_[static_cast<std::size_t>(index)] = ch;
}

int CString::Compare(const char* other) const {
  return compareBytes(text_.c_str(), other ? other : "");
}

int CString::CompareNoCase(const char* other) const {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(text_.c_str());
  const unsigned char* b =
      reinterpret_cast<const unsigned char*>(other ? other : "");
  for (;; ++a, ++b) {
    const int ca = static_cast<unsigned char>(upperAscii(static_cast<char>(*a)));
    const int cb = static_cast<unsigned char>(upperAscii(static_cast<char>(*b)));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

CString& CString::MakeUpper() {
  std::transform(text_.begin(), text_.end(), text_.begin(), upperAscii);
  return *this;
}

CString& CString::MakeLower() {
  std::transform(text_.begin(), text_.end(), text_.begin(), lowerAscii);
  return *this;
}

int CString::Replace(const char* from, const char* to) {
  if (from == nullptr || *from == '\0') return 0;
  const std::string pattern(from);
  const std::string replacement(to ? to : "");
  int count = 0;
  std::string out;
  std::size_t at = 0;
  for (std::size_t hit; (hit = text_.find(pattern, at)) != std::string::npos;
       at = hit + pattern.size()) {
    out.append(text_, at, hit - at).append(replacement);
    ++count;
  }
  if (count > 0) text_ = out.append(text_, at, std::string::npos);
  return count;
}

int CString::Replace(char from, char to) {
  int count = 0;
  for (char& c : text_) {
    if (c == from) {
      c = to;
      ++count;
    }
  }
  return count;
}

int CString::Find(const char* sub, int start) const {
  if (sub == nullptr || start < 0 || start > GetLength()) return -1;
  const std::size_t hit = text_.find(sub, static_cast<std::size_t>(start));
  return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::Find(char ch, int start) const {
  if (start < 0 || start > GetLength()) return -1;
  const std::size_t hit = text_.find(ch, static_cast<std::size_t>(start));
  return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

CString CString::Left(int count) const {
  return Mid(0, count);
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  first = std::clamp(first, 0, GetLength());
  count = std::clamp(count, 0, GetLength() - first);
  return CString(text_.data() + first, count);
}

CString CString::Right(int count) const {
  count = std::clamp(count, 0, GetLength());
  return Mid(GetLength() - count, count);
}

CString& CString::TrimLeft() {
  const auto first = std::find_if_not(text_.begin(), text_.end(), isBlank);
  text_.erase(text_.begin(), first);
  return *this;
}

CString& CString::TrimRight() {
  while (!text_.empty() && isBlank(text_.back())) text_.pop_back();
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }

char* CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) text_.resize(static_cast<std::size_t>(minLength));
  return text_.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) newLength = static_cast<int>(std::strlen(text_.c_str()));
  text_.resize(static_cast<std::size_t>(std::min(newLength, GetLength())));
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  text_ = btreeimg::detail::formatText(format, args);
  va_end(args);
}

CString& CString::operator+=(const CString& other) {
  text_ += other.text_;
  return *this;
}

CString& CString::operator+=(const char* text) {
  if (text) text_ += text;
  return *this;
}

CString& CString::operator+=(char ch) {
  text_ += ch;
  return *this;
}

CString operator+(const CString& a, const CString& b) {
  CString out(a);
  return out += b;
}
CString operator+(const CString& a, const char* b) {
  CString out(a);
  return out += b;
}
CString operator+(const char* a, const CString& b) {
  CString out(a);
  return out += b;
}
CString operator+(const CString& a, char b) {
  CString out(a);
  return out += b;
}

bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
bool operator!=(const CString& a, const CString& b) { return !(a == b); }
bool operator!=(const CString& a, const char* b) { return !(a == b); }
bool operator!=(const char* a, const CString& b) { return !(a == b); }
bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
bool operator<(const CString& a, const char* b) { return a.Compare(b) < 0; }
bool operator<(const char* a, const CString& b) { return b.Compare(a) > 0; }

namespace btreeimg::detail {

std::string formatText(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  std::string out;
  if (needed > 0) {
    out.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.pop_back();
  }
  va_end(again);
  return out;
}

}  // namespace btreeimg::detail
