#include "platform/FaultInjection.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "common/Text.h"

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

}  // namespace

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
