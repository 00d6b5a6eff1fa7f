// The object ids that the merge draws for stair lines whose own id is taken.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv::catalog {

// Drawn ids are the decimal texts "0" to "999".
inline constexpr int kDrawableIdCount = 1000;

// The id for a draw `r` in [0, 1): r * 999 in single precision, rounded to a
// whole number with ties to the even neighbour. So 0 and 999 come up about
// half as often as the others. Raises error 5 for an `r` outside [0, 1).
std::string IdFromDraw(float r);

// The number of a drawable id text ("0" to "999", written as IdFromDraw
// writes it), or -1 for any other text: "007", "+7", "1000", "" and " 7" are
// ids too, but no draw ever gives them.
int DrawableIdNumber(std::string_view id);

// Uniform numbers in [0, 1), single precision, re-seeded from a clock before
// every draw. A call counter is mixed into each seed, so that re-seeding
// within one clock tick (draws come much faster than most clocks advance)
// still gives a fresh number; and a draw never repeats the one before it, so
// a loop that waits for a free id cannot stall on one taken candidate.
class ClockSeededRandom {
 public:
  // `clock` gives the ticks to seed from; empty means the system clock.
  explicit ClockSeededRandom(std::function<uint64_t()> clock = {});

  float Next();

 private:
  std::function<uint64_t()> clock_;
  uint64_t counter_ = 0;
  float last_ = -1.0f;
};

// One draw from the process's own clock-seeded generator.
float ClockSeededDraw();

}  // namespace qv::catalog
