#include "settings/AsKeyDat.h"

#include <new>

#include "framework/Diagnose.h"
#include "framework/Exceptions.h"
#include "framework/ThrowHelpers.h"

MyAsKey::MyAsKey(const char* k) : key(k), values(nullptr) {}

MyAsKey::MyAsKey(const char* k, CPtrList* list) : key(k), values(list) {}

MyAsKey::MyAsKey(const MyAsKey& other) : key(other.key), values(other.values) {}

MyAsKey& MyAsKey::operator=(const MyAsKey& other) {
  key = other.key;
  values = other.values;
  return *this;
}

MyAsKey::~MyAsKey() {
  if (values == nullptr) return;
  for (POSITION pos = values->GetHeadPosition(); pos != nullptr;) {
    delete static_cast<CString*>(values->GetNext(pos));
  }
  values->RemoveAll();
  delete values;
}

void MyAsKey::AddVal(CString* value) {
  if (values == nullptr) {
    values = new (std::nothrow) CPtrList(10);
    if (values == nullptr) btreeimg::detail::throwMemoryError();
  }
  values->AddTail(value);
}

CPtrList* MyAsKey::getList() { return values; }

CPtrList* MyAsKey::removeList() {
  CPtrList* list = values;
  values = nullptr;
  return list;
}

CString& MyAsKey::Key() { return key; }

void MyAsKey::StoreOn(CStdioFile* file) {
  if (values == nullptr || file == nullptr) return;
  for (POSITION pos = values->GetHeadPosition(); pos != nullptr;) {
    const CString* value = static_cast<CString*>(values->GetNext(pos));
    CString line = key;
    line += " ";
    if (value != nullptr) line += *value;
    line += "\n";
    try {
      file->WriteString(line);
    } catch (CFileException* e) {
      e->Delete();
      btreeimg::detail::diagnose("Not Save %s ",
                                 file->GetFilePath().GetString());
    }
  }
}
