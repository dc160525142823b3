// Runs the built btreeimg tool (or the sample generator) in a child process
// and collects its exit status, standard output and standard error.
#ifndef BTREEIMG_TESTS_TOOLS_TOOLRUN_H_
#define BTREEIMG_TESTS_TOOLS_TOOLRUN_H_

#include <sys/wait.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/TestFiles.h"

namespace tooltest {

struct ToolResult {
  int status = -1;  // the exit status; -1 when the program did not exit
  std::string out;
  std::string err;
};

// Quotes `text` for the shell.
inline std::string quoted(const std::string& text) {
  std::string q = "'";
  for (const char c : text) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

// Runs `program` with `args`; its output goes through files in `dir`.
inline ToolResult runProgram(const std::string& program,
                      const std::vector<std::string>& args,
                      const testfiles::TempDir& dir) {
  const std::string out = dir.file(".run-out");
  const std::string err = dir.file(".run-err");
  std::string command = quoted(program);
  for (const std::string& arg : args) command += " " + quoted(arg);
  command += " </dev/null >" + quoted(out) + " 2>" + quoted(err);
  const int raw = std::system(command.c_str());
  ToolResult run;
  run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = testfiles::readText(out);
  run.err = testfiles::readText(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

inline ToolResult tool(std::initializer_list<std::string> args,
                const testfiles::TempDir& dir) {
  return runProgram(BTREEIMG_TOOL, args, dir);
}

inline std::string sample(const char* name) {
  return std::string(BTREEIMG_SAMPLES) + "/" + name;
}

}  // namespace tooltest

#endif  // BTREEIMG_TESTS_TOOLS_TOOLRUN_H_
