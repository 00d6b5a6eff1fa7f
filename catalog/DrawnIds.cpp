#include "catalog/DrawnIds.h"

#include <chrono>
#include <cmath>
#include <utility>

#include "common/Error.h"

namespace qv::catalog {

namespace {

// SplitMix64: a fast, well-mixed 64-bit scrambler. Neighbouring seeds (clock
// ticks one apart, counters one apart) give unrelated outputs.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t SystemClockTicks() {
  return static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

// The top 24 bits make a float in [0, 1) exactly: every value k / 2^24 is
// representable, and none rounds up to 1.
float UnitFloat(uint64_t bits) {
  return static_cast<float>(bits >> 40) * (1.0f / 16777216.0f);
}

}  // namespace

std::string IdFromDraw(float r) {
  if (!(r >= 0.0f && r < 1.0f)) {
    throw Error(err::kInvalidCall, "a drawn number lies outside [0, 1)", "catalog::IdFromDraw");
  }
  // Through a volatile float so that a build computing in extended precision
  // (x87 on 32-bit Windows) still rounds the product to single precision
  // before it is rounded to a whole number.
  volatile float product = r * 999.0f;
  const float scaled = product;
  const float whole = std::floor(scaled);
  const float fraction = scaled - whole;
  auto number = static_cast<int>(whole);
  if (fraction > 0.5f || (fraction == 0.5f && number % 2 != 0)) ++number;
  return std::to_string(number);
}

int DrawableIdNumber(std::string_view id) {
  if (id.empty() || id.size() > 3) return -1;
  if (id.size() > 1 && id.front() == '0') return -1;
  int number = 0;
  for (char c : id) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

ClockSeededRandom::ClockSeededRandom(std::function<uint64_t()> clock)
    : clock_(clock ? std::move(clock) : std::function<uint64_t()>(SystemClockTicks)) {}

float ClockSeededRandom::Next() {
  uint64_t state = Mix(clock_() ^ Mix(++counter_));
  float r = UnitFloat(Mix(state));
  while (r == last_) {
    state = Mix(state);
    r = UnitFloat(Mix(state));
  }
  last_ = r;
  return r;
}

float ClockSeededDraw() {
  // Everything runs on the one user-interface thread, so one generator
  // serves the whole process.
  static ClockSeededRandom generator;
  return generator.Next();
}

}  // namespace qv::catalog
