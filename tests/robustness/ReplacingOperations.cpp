#include "ReplacingOperations.h"

#include <filesystem>
#include <stdexcept>

#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "settings/AsKeyDat.h"
#include "settings/Env.h"
#include "support/TestFiles.h"

namespace replacing {

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 16;

// A 64 x 16 one-plane raw image whose every pixel is `value`.
void writeImage(const std::string& path, int value) {
  BtreeImg image(path.c_str(), 0, kWidth, kHeight, 1);
  std::string line(kWidth, static_cast<char>(value));
  for (int y = 0; y < kHeight; ++y) image.wLinea(line.data(), y, 1);
  image.closeImg();
}

// Rule files turning every pixel 5 above a 5 into 10 + version, and an
// image of fives to apply them to.
void writeCoverageInputs() {
  testfiles::writeText("rules-0.txt", "COLCOPER 5\nCOLTEST 5\nCOLSOST 10\n");
  testfiles::writeText("rules-1.txt", "COLCOPER 5\nCOLTEST 5\nCOLSOST 11\n");
  writeImage("source.dis", 5);
}

bool reported(const std::function<void()>& f) {
  try {
    f();
    return true;
  } catch (CException* e) {
    e->Delete();
    return false;
  }
}

void oldBytes(const std::string& target) { testfiles::writeText(target, std::string(700, 'o')); }

void countFailures(const char*, void* context) { ++*static_cast<int*>(context); }

std::vector<Operation> makeOperations() {
  std::vector<Operation> ops;
  ops.push_back({"CloseImg", "image.dis", "image.dis.~tmp", oldBytes,
                 [](const std::string& target, int version) {
                   return reported([&] { writeImage(target, 20 + version); });
                 }});
  ops.push_back({"CoverageToAnotherFile", "covered.dis", "covered.dis.~tmp",
                 [](const std::string& target) {
                   writeCoverageInputs();
                   oldBytes(target);
                 },
                 [](const std::string& target, int version) {
                   BtreeImg source("source.dis");
                   const std::string rules = "rules-" + std::to_string(version) + ".txt";
                   return source.CoperturaU8(rules.c_str(), target.c_str()) == 1;
                 }});
  ops.push_back({"CoverageOfItsOwnFile", "woven.dis", "woven.~~T",
                 [](const std::string& target) {
                   writeCoverageInputs();
                   writeImage(target, 5);
                 },
                 [](const std::string& target, int version) {
                   // Opening the image fails where the target is no image.
                   bool covered = false;
                   const bool opened = reported([&] {
                     BtreeImg image(target.c_str());
                     const std::string rules = "rules-" + std::to_string(version) + ".txt";
                     covered = image.CoperturaU8(rules.c_str(), target.c_str()) == 1;
                   });
                   return opened && covered;
                 }});
  ops.push_back({"EnvSave", "ENV.VD6", "ENV.VD6.~tmp",
                 [](const std::string& target) {
                   { Env defaults; }  // writes ENV.VD6 with the default entries
                   if (target != "ENV.VD6") std::filesystem::rename("ENV.VD6", target);
                 },
                 [](const std::string&, int version) {
                   int failures = 0;
                   btreeimg::setDiagnosticSink(countFailures, &failures);
                   {
                     Env env;
                     env.putEnv("VD6DEB", version == 0 ? "zero" : "one");
                   }
                   btreeimg::setDiagnosticSink(nullptr, nullptr);
                   return failures == 0;
                 }});
  ops.push_back({"KeyedListSave", "lists.txt", "lists.txt.~tmp", oldBytes,
                 [](const std::string& target, int version) {
                   AsKeyDat lists;
                   for (int i = 0; i < 20; ++i) {
                     CPtrList* values = new CPtrList;
                     values->AddTail(new CString(std::to_string(i * 7 + version).c_str()));
                     lists.createAsKey(("KEY" + std::to_string(i)).c_str(), values);
                   }
                   return lists.saveFromFile(target.c_str()) == 1;
                 }});
  return ops;
}

}  // namespace

const std::vector<Operation>& operations() {
  static const std::vector<Operation> ops = makeOperations();
  return ops;
}

const Operation& operation(const std::string& name) {
  for (const Operation& op : operations()) {
    if (name == op.name) return op;
  }
  throw std::invalid_argument(name);
}

std::vector<unsigned char> expectedContent(const Operation& op, int version) {
  testfiles::TempDir folder;
  testfiles::ScopedChdir inside(folder.path());
  op.prepare(op.target);
  if (!op.save(op.target, version)) throw std::runtime_error("reference save failed");
  return testfiles::readFile(op.target);
}

}  // namespace replacing
