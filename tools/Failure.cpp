#include "Failure.h"

#include <iostream>
#include <string>

namespace tool {

void fail(int status, const std::string& message) {
  throw Failure{status, message};
}

std::string counted(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

namespace {

std::string take(CException* e, bool withFileName) {
  const std::string text = btreeimg::describe(e, withFileName).GetString();
  e->Delete();
  return text;
}

}  // namespace

std::string takeMessage(CException* e) { return take(e, true); }

std::string takeCause(CException* e) { return take(e, false); }

void warn(const std::string& text) { std::cerr << "btreeimg: " << text << '\n'; }

}  // namespace tool
