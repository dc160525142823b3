// The robustness tests' own definitions of a few C library calls, which take
// the place of the C library's for the library under test as well (the
// program's definitions come first when symbols are bound). Each passes
// through to the real call unless a test arms it.
#ifndef BTREEIMG_TESTS_ROBUSTNESS_SYSTEMCALLS_H_
#define BTREEIMG_TESTS_ROBUSTNESS_SYSTEMCALLS_H_

#include <string>
#include <vector>

namespace syscalls {

// While set, fsync fails with EIO without flushing.
void failFlushes(bool on);

// While set, getrandom fills its buffer with the number of calls made since
// (0, then 1, ...), so the library's temporary names come in a known order:
// "-aaaaaa", then "-bbbbbb", ...
void predictableRandom(bool on);

// While recording, each fsync (of a regular file or of a folder) and each
// rename is noted in order: "fsync file", "fsync folder", "rename".
void startRecording();
std::vector<std::string> stopRecording();

}  // namespace syscalls

#endif  // BTREEIMG_TESTS_ROBUSTNESS_SYSTEMCALLS_H_
