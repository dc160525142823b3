// The operations that replace a file, as one table for the tests of what a
// save promises: each writes its target in one of two versions, and says
// whether it reported success the way the operation reports it.
#ifndef BTREEIMG_TESTS_ROBUSTNESS_REPLACINGOPERATIONS_H_
#define BTREEIMG_TESTS_ROBUSTNESS_REPLACINGOPERATIONS_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace replacing {

struct Operation {
  const char* name;
  // The target's name inside the test's folder (which is also the current
  // folder while the operation runs: the settings file lives there).
  const char* target;
  // The stem of the operation's temporary names, inside the same folder.
  const char* stem;
  // Writes the target's old content (whatever the operation reads first).
  std::function<void(const std::string& target)> prepare;
  // Replaces `target` with version `version` (0 or 1) of the new content;
  // false when the operation reported a failure.
  std::function<bool(const std::string& target, int version)> save;
};

// Names the operation in test output (instead of a dump of its bytes).
inline void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }

// closeImg of a created image, colour coverage into another file and into
// the image's own file, Env::save and AsKeyDat::saveFromFile.
const std::vector<Operation>& operations();

// The operation of that name.
const Operation& operation(const std::string& name);

// The bytes `op` writes for `version` on an untouched target, made in a
// folder of their own.
std::vector<unsigned char> expectedContent(const Operation& op, int version);

}  // namespace replacing

#endif  // BTREEIMG_TESTS_ROBUSTNESS_REPLACINGOPERATIONS_H_
