// The environment settings read from an arbitrary file. The settings file is
// written in the current folder, so the target works in its own folder.
#include <unistd.h>

#include "FuzzSupport.h"
#include "settings/Env.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool entered = chdir(fuzz::workFolder().c_str()) == 0;
  if (!entered) std::abort();
  const std::string path = fuzz::pathOf("settings.txt");
  fuzz::writeBytes(path, data, size);
  fuzz::tolerate([&] {
    Env env(const_cast<char*>(path.c_str()));
    env.getEnv(const_cast<char*>("VD6DEB"));
    env.getEnv(const_cast<char*>("  VD6ICN"));
    env.putEnv(const_cast<char*>("VD6DEB"), const_cast<char*>("1"));
    env.putEnv(const_cast<char*>("NEWKEY"), const_cast<char*>("value with blanks"));
  });
  std::remove("ENV.VD6");
  return 0;
}
