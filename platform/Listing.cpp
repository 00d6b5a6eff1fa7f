#include "platform/Listing.h"

#include <cstddef>
#include <utility>

#include "platform/FileSystem.h"

namespace qv::platform {

namespace {

struct Listing {
  std::vector<std::string> names;
  size_t next = 0;
};

Listing& TheListing() {
  static Listing listing;
  return listing;
}

}  // namespace

namespace listing {

void Abandon() {
  TheListing() = Listing{};
}

std::string Start(std::vector<std::string> names) {
  TheListing() = Listing{std::move(names)};
  return ListNext();
}

bool Shows(uint32_t attributes, uint32_t mask) {
  constexpr uint32_t kOnRequest = kAttrHidden | kAttrSystem | kAttrDirectory;
  return (attributes & kOnRequest & ~mask) == 0;
}

}  // namespace listing

std::string ListNext() {
  Listing& listing = TheListing();
  if (listing.next >= listing.names.size()) {
    listing = Listing{};
    return {};
  }
  return std::move(listing.names[listing.next++]);
}

}  // namespace qv::platform
