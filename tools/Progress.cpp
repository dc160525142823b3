#include "Progress.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace tool {

namespace {
constexpr auto kQuietStart = std::chrono::milliseconds(300);
constexpr unsigned kBarWidth = 30;
}  // namespace

Progress::Progress(std::string label, std::uint64_t total)
    : label_(std::move(label)),
      total_(total),
      enabled_(total != 0 && ::isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  if (drawn_) std::fprintf(stderr, "\r\033[K");
}

void Progress::update(std::uint64_t done) {
  if (!enabled_) return;
  if (!drawn_ && std::chrono::steady_clock::now() - start_ < kQuietStart) return;
  const unsigned percent =
      static_cast<unsigned>((done >= total_ ? total_ : done) * 100 / total_);
  if (percent != lastPercent_) draw(percent);
}

void Progress::draw(unsigned percent) {
  char bar[kBarWidth + 1];
  const unsigned filled = percent * kBarWidth / 100;
  for (unsigned i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %3u%%", label_.c_str(), bar, percent);
  std::fflush(stderr);
  drawn_ = true;
  lastPercent_ = percent;
}

}  // namespace tool
