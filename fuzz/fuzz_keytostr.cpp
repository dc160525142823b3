// Key-to-string tables from arbitrary files, in both line forms. The first
// byte names the separator of the separator form; the rest is the file.
#include "FuzzSupport.h"
#include "settings/KeyToStr.h"

namespace {

void lookUpEverything(KeyToStr& table) {
  for (POSITION pos = table.GetHeadPosition(); pos != nullptr;) {
    MyAssoc* entry = static_cast<MyAssoc*>(table.GetNext(pos));
    (void)entry;
  }
  table.StrOf(const_cast<char*>("  KEY"));
  table.StrOf(const_cast<char*>(""));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string path = fuzz::pathOf("table.txt");
  fuzz::writeBytes(path, data + 1, size - 1);
  fuzz::tolerate([&] {
    KeyToStr blanks(const_cast<char*>(path.c_str()));
    lookUpEverything(blanks);
  });
  fuzz::tolerate([&] {
    KeyToStr separated(const_cast<char*>(path.c_str()), static_cast<char>(data[0]));
    lookUpEverything(separated);
  });
  return 0;
}
