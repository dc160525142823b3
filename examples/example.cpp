// A tour of btreeimg: open an image and read lines, run colour coverage,
// build the settings file in a temporary folder, and look a key up in a
// key-to-string table.
//
// Usage: example IMAGE RULES
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "settings/Env.h"
#include "settings/KeyToStr.h"

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "example: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: example IMAGE RULES");
  char folderTemplate[] = "/tmp/btreeimg-example-XXXXXX";
  const char* folder = mkdtemp(folderTemplate);
  if (folder == nullptr) return fail("cannot make a temporary folder");
  const std::string work(folder);

  try {
    // 1. Open the image and read its lines.
    BtreeImg image(argv[1]);
    std::printf("version %d, %d plane(s), %u x %u\n", image.Version(),
                image.nPiani(), image.dimx(1), image.dimy(1));
    unsigned long sum = 0;
    for (unsigned int y = 0; y < image.dimy(1); ++y) {
      Mem* line = image.at(y, 1);
      const unsigned char* bytes =
          static_cast<const unsigned char*>(line->pointer());
      for (unsigned int x = 0; x < line->size(); ++x) sum += bytes[x];
    }
    std::printf("sum of plane 1: %lu\n", sum);

    // 2. Colour coverage into a new file.
    const std::string covered = work + "/covered.dis";
    const int ran = image.CoperturaU8(argv[2], covered.c_str());
    std::printf("coverage %s; output %s\n", ran ? "ran" : "failed",
                access(covered.c_str(), F_OK) == 0 ? "written" : "not written");
    if (!ran) return fail("coverage did not run");
  } catch (CException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    e->Delete();
    return fail(text);
  }

  // 3. The settings file, created in the temporary folder with its defaults.
  if (chdir(folder) != 0) return fail("cannot enter the temporary folder");
  {
    Env env;
    std::printf("VD6MIS = %s\n", env.getEnv(const_cast<char*>("VD6MIS")));
    env.putEnv(const_cast<char*>("VD6DEB"), const_cast<char*>("1"));
  }

  // 4. A key-to-string table in the separator form.
  {
    std::FILE* table = std::fopen("menu.txt", "w");
    if (table == nullptr) return fail("cannot write the table");
    std::fputs("@ menu titles\nTITLE=Main menu\nSUB TITLE=Second level\n", table);
    std::fclose(table);
  }
  KeyToStr menu(const_cast<char*>("menu.txt"), '=');
  const char* title = menu.StrOf(const_cast<char*>("SUB TITLE"));
  std::printf("SUB TITLE = %s\n", title ? title : "(missing)");

  std::remove("menu.txt");
  std::remove("ENV.VD6");
  std::remove((work + "/covered.dis").c_str());
  if (chdir("/") != 0 || rmdir(folder) != 0) return fail("cannot clean up");
  return title ? 0 : 1;
}
