// Reading a descriptor at an offset without moving its position, as far as
// the file goes.
#ifndef BTREEIMG_FRAMEWORK_READFULLY_H_
#define BTREEIMG_FRAMEWORK_READFULLY_H_

#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "framework/Types.h"

namespace btreeimg::detail {

// Reads up to `n` bytes at `offset` of `descriptor` into `out`, retrying
// after interruptions and short reads. Returns how many bytes were read:
// fewer than `n` only at the end of the file; on an error, what was read
// before it, with errno set.
inline ULONGLONG readFully(int descriptor, unsigned char* out, ULONGLONG n,
                           ULONGLONG offset) {
  ULONGLONG done = 0;
  while (done < n) {
    const ULONGLONG piece = n - done < (ULONGLONG{1} << 30) ? n - done : ULONGLONG{1} << 30;
    const ssize_t got = ::pread(descriptor, out + done, static_cast<std::size_t>(piece),
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<ULONGLONG>(got);
  }
  return done;
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_FRAMEWORK_READFULLY_H_
