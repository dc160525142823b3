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

}  // namespace
