#include "guests.hpp"

namespace sim {

const GuestImage *find_guest(const std::string &name) {
  for (size_t i = 0; i < kGuestImageCount; ++i)
    if (name == kGuestImages[i].name) return &kGuestImages[i];
  return nullptr;
}

std::string guest_names() {
  std::string s;
  for (size_t i = 0; i < kGuestImageCount; ++i) {
    if (i) s += '|';
    s += kGuestImages[i].name;
  }
  return s;
}

}  // namespace sim
