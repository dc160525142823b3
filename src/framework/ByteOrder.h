// Little-endian loads and stores at any address, byte by byte. Every field of
// the image file goes through these. Internal: not installed.
#ifndef BTREEIMG_FRAMEWORK_BYTEORDER_H_
#define BTREEIMG_FRAMEWORK_BYTEORDER_H_

#include <cstdint>

namespace btreeimg::detail {

// REQUIRES: p addresses 2 (4) bytes.
inline std::uint16_t loadU16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t loadU32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
         std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
inline std::int16_t loadI16(const unsigned char* p) {
  return static_cast<std::int16_t>(loadU16(p));
}
inline void storeU16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void storeU32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_FRAMEWORK_BYTEORDER_H_
