#include "framework/Exceptions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// GetErrorMessage into a buffer, and describe() whole, with or without a
// file's name, say the same.
TEST(Exceptions, MessagesNameTheFileAndTheCauseWholeOrCutToTheBuffer) {
  const std::string cause = std::string("file not found (") + std::strerror(ENOENT) + ")";
  const CFileException notFound(CFileException::fileNotFound, ENOENT, "/data/ENV.VD6");
  // A message given at the throw replaces the description of the cause.
  const CFileException given(CFileException::invalidFile, -1, "a.dis",
                             "plane region crosses the file end");
  const CInvalidArgException argument("index 7");
  const CFileException unknown(99);
  const struct {
    const CException* e;
    std::string withName, withoutName;
  } cases[] = {
      {&notFound, "/data/ENV.VD6: " + cause, cause},
      {&given, "a.dis: plane region crosses the file end", "plane region crosses the file end"},
      {&argument, "invalid argument: index 7", "invalid argument: index 7"},
      {&unknown, "unknown error", "unknown error"},
  };
  for (const auto& c : cases) {
    char text[512];
    EXPECT_TRUE(c.e->GetErrorMessage(text, sizeof text));
    EXPECT_EQ(text, c.withName);
    EXPECT_EQ(std::string(btreeimg::describe(c.e)), c.withName);
    EXPECT_EQ(std::string(btreeimg::describe(c.e, false)), c.withoutName);
  }
  EXPECT_STREQ(btreeimg::describe(nullptr), "unknown error");

  const CMemoryException e;
  char text[5] = {'#', '#', '#', '#', '#'};
  EXPECT_TRUE(e.GetErrorMessage(text, sizeof text));
  EXPECT_STREQ(text, "out ");
  EXPECT_FALSE(e.GetErrorMessage(text, 0));
  EXPECT_FALSE(e.GetErrorMessage(nullptr, 10));
  // describe() is longer than any fixed buffer of the callers.
  const std::string name(3000, 'n');
  const CFileException longName(CFileException::accessDenied, EACCES, name.c_str());
  EXPECT_EQ(std::string(btreeimg::describe(&longName)).size(),
            name.size() + 2 + std::string(btreeimg::describe(&longName, false)).size());
}

}  // namespace
