// Keyed value lists from arbitrary files, then saved and loaded again.
#include "FuzzSupport.h"
#include "settings/AsKeyDat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::pathOf("lists.txt");
  const std::string saved = fuzz::pathOf("saved.txt");
  fuzz::writeBytes(path, data, size);
  fuzz::tolerate([&] {
    AsKeyDat lists;
    lists.createFromFile(path.c_str());
    for (int i = 0; i < lists.getCount(); ++i) {
      MyAsKey* entry = lists.getAt(i);
      lists.getListOf(entry->Key());
    }
    lists.getListOf("COLCOPER");
    if (lists.saveFromFile(saved.c_str()) == 1) {
      AsKeyDat again;
      again.createFromFile(saved.c_str());
    }
    delete lists.getAtRemove(0);
    // A removed list and its strings are the caller's.
    if (CPtrList* values = lists.removeListOf("COLTEST")) {
      while (!values->IsEmpty()) delete static_cast<CString*>(values->RemoveHead());
      delete values;
    }
  });
  std::remove(saved.c_str());
  return 0;
}
