#include "framework/Exceptions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::string message(const CException& e) {
  char text[512];
  EXPECT_TRUE(e.GetErrorMessage(text, sizeof text));
  return text;
}

TEST(Exceptions, MessagesNameTheFileAndTheCauseAndAreCutToTheBuffer) {
  EXPECT_EQ(message(CFileException(CFileException::fileNotFound, ENOENT,
                                   "/data/ENV.VD6")),
            std::string("/data/ENV.VD6: file not found (") +
                std::strerror(ENOENT) + ")");
  // A message given at the throw replaces the description of the cause.
  EXPECT_EQ(message(CFileException(CFileException::invalidFile, -1, "a.dis",
                                   "plane region crosses the file end")),
            "a.dis: plane region crosses the file end");
  EXPECT_EQ(message(CFileException(99)), "unknown error");
  EXPECT_EQ(message(CInvalidArgException("index 7")),
            "invalid argument: index 7");
  const CMemoryException e;
  char text[5] = {'#', '#', '#', '#', '#'};
  EXPECT_TRUE(e.GetErrorMessage(text, sizeof text));
  EXPECT_STREQ(text, "out ");
  EXPECT_FALSE(e.GetErrorMessage(text, 0));
  EXPECT_FALSE(e.GetErrorMessage(nullptr, 10));
}

// describe() gives the whole text, with or without a file's name, and
// leaves the exception to its owner.
TEST(Exceptions, DescribeGivesTheWholeTextWithOrWithoutTheFileName) {
  const std::string cause = std::string("file not found (") + std::strerror(ENOENT) + ")";
  auto* e = new CFileException(CFileException::fileNotFound, ENOENT, "/data/ENV.VD6");
  EXPECT_EQ(std::string(btreeimg::describe(e)), "/data/ENV.VD6: " + cause);
  EXPECT_EQ(std::string(btreeimg::describe(e, false)), cause);
  EXPECT_STREQ(e->m_strFileName, "/data/ENV.VD6");  // still owned, unchanged
  e->Delete();

  const CFileException given(CFileException::invalidFile, -1, "a.dis", "plane region crosses the file end");
  EXPECT_STREQ(btreeimg::describe(&given, false), "plane region crosses the file end");
  const CInvalidArgException arg("index 7");
  EXPECT_STREQ(btreeimg::describe(&arg, false), "invalid argument: index 7");
  EXPECT_STREQ(btreeimg::describe(nullptr), "unknown error");

  // Longer than any fixed buffer of the callers.
  const std::string name(3000, 'n');
  const CFileException longName(CFileException::accessDenied, EACCES, name.c_str());
  EXPECT_EQ(std::string(btreeimg::describe(&longName)).size(),
            name.size() + 2 + std::string(btreeimg::describe(&longName, false)).size());
}

}  // namespace
