#include "platform/FaultInjection.h"

#include <atomic>
#include <charconv>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/Text.h"
#include "platform/Process.h"

namespace qv::platform::fault {

namespace {

struct Fault {
  Operation operation;
  std::string suffix;
  int32_t errorNumber;
  int remaining;  // -1: for ever
};

std::string Normalize(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// `suffix` matches the last whole components of `path`; "*" and "?" in it
// stand for names that are not known in advance (temporary files).
bool EndsWithComponents(const std::string& path, const std::string& suffix) {
  if (suffix.empty()) return false;
  if (suffix.front() == '/') return text::WildcardMatch(suffix, path, /*ignoreCase=*/false);
  return text::WildcardMatch(suffix, path, false) ||
         text::WildcardMatch("*/" + suffix, path, false);
}

std::atomic<bool> g_armed{false};
std::mutex g_mutex;
std::vector<Fault>& Faults() {
  static std::vector<Fault> faults;
  return faults;
}

static_assert(std::size(kOperationNames) == static_cast<size_t>(Operation::kElevate) + 1,
              "one name for each operation");

// One entry of the environment variable: "<operation> <number> <suffix>".
void ArmEntry(std::string_view entry) {
  const size_t nameEnd = entry.find(' ');
  if (nameEnd == std::string_view::npos) return;
  const size_t numberEnd = entry.find(' ', nameEnd + 1);
  if (numberEnd == std::string_view::npos) return;
  const std::string_view name = entry.substr(0, nameEnd);
  const std::string_view number = entry.substr(nameEnd + 1, numberEnd - nameEnd - 1);
  int32_t errorNumber = 0;
  if (std::from_chars(number.data(), number.data() + number.size(), errorNumber).ec != std::errc())
    return;
  for (size_t i = 0; i < std::size(kOperationNames); ++i) {
    if (name == kOperationNames[i]) {
      FailNext(static_cast<Operation>(i), std::string(entry.substr(numberEnd + 1)), errorNumber,
               -1);
    }
  }
}

}  // namespace

void ArmFromEnvironment() {
  const std::string entries = GetEnvironment(kEnvironmentVariable);
  UnsetEnvironment(kEnvironmentVariable);
  for (size_t start = 0; start < entries.size();) {
    size_t end = entries.find(';', start);
    if (end == std::string::npos) end = entries.size();
    ArmEntry(std::string_view(entries).substr(start, end - start));
    start = end + 1;
  }
}

void FailNext(Operation operation, const std::string& pathSuffix, int32_t errorNumber, int times) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Faults().push_back(Fault{operation, Normalize(pathSuffix), errorNumber, times});
  g_armed.store(true);
}

void ClearAll() {
  std::lock_guard<std::mutex> lock(g_mutex);
  Faults().clear();
  g_armed.store(false);
}

std::optional<int32_t> Take(Operation operation, const std::string& nativePath) {
  if (!g_armed.load()) return std::nullopt;
  std::lock_guard<std::mutex> lock(g_mutex);
  const std::string path = Normalize(nativePath);
  auto& faults = Faults();
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->operation != operation || !EndsWithComponents(path, it->suffix)) continue;
    const int32_t number = it->errorNumber;
    if (it->remaining > 0 && --it->remaining == 0) faults.erase(it);
    if (faults.empty()) g_armed.store(false);
    return number;
  }
  return std::nullopt;
}

}  // namespace qv::platform::fault
