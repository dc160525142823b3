// getrandom() for emscripten, whose C library (3.1.6) declares it but does
// not provide it. The library uses it for the random part of its temporary
// file names. This one draws on getentropy(), which emscripten implements
// with the host's cryptographic random source, 256 bytes at a time.
#include <cstddef>  // before sys/random.h: emscripten's own part of it needs size_t

#include <sys/random.h>
#include <unistd.h>

extern "C" ssize_t getrandom(void* buffer, size_t length, unsigned /*flags*/) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    const size_t chunk = length - done < 256 ? length - done : 256;
    if (getentropy(bytes + done, chunk) != 0) return done ? static_cast<ssize_t>(done) : -1;
    done += chunk;
  }
  return static_cast<ssize_t>(done);
}
