// A progress bar on stderr for long work. It is drawn only when stderr is a
// terminal, and only once the work has run for a moment, so that short
// commands and redirected output stay clean. The bar is erased when the
// object goes away.
#ifndef BTREEIMG_TOOLS_PROGRESS_H_
#define BTREEIMG_TOOLS_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace tool {

class Progress {
 public:
  // `label` names the work; `total` counts its steps (0: nothing to show).
  Progress(std::string label, std::uint64_t total);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  // Records that `done` of the total steps are finished.
  void update(std::uint64_t done);

 private:
  void draw(unsigned percent);

  std::string label_;
  std::uint64_t total_;
  bool enabled_;
  bool drawn_ = false;
  unsigned lastPercent_ = 101;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tool

#endif  // BTREEIMG_TOOLS_PROGRESS_H_
