#include "points.hpp"

namespace sim {

unsigned Breakpoints::add(BreakKind kind, uint16_t segment, uint32_t offset, uint32_t linear) {
  if (list_.size() >= kMax) return 0;
  list_.push_back(Breakpoint{next_, kind, segment, offset, linear});
  return next_++;
}

bool Breakpoints::remove(unsigned number) {
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    if (it->number == number) {
      list_.erase(it);
      return true;
    }
  }
  return false;
}

const Breakpoint *Breakpoints::at(uint32_t linear, uint32_t physical, bool physical_known) const {
  for (const Breakpoint &b : list_) {
    if (b.kind == BreakKind::Physical ? physical_known && b.linear == physical : b.linear == linear) return &b;
  }
  return nullptr;
}

bool Watchpoints::add(bool write, uint32_t address) {
  for (const Watchpoint &w : list_)
    if (w.write == write && w.address == address) return true;
  if (list_.size() >= kMax) return false;
  list_.push_back(Watchpoint{write, address});
  return true;
}

bool Watchpoints::remove(bool write, uint32_t address) {
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    if (it->write == write && it->address == address) {
      list_.erase(it);
      return true;
    }
  }
  return false;
}

const Watchpoint *Watchpoints::hit(const AccessLog &log) const {
  for (unsigned i = 0; i < log.count; ++i) {
    const Access &a = log.items[i];
    for (const Watchpoint &w : list_) {
      if (w.write != a.write) continue;
      if (uint32_t(w.address - a.address) < a.size) return &w;
    }
  }
  return nullptr;
}

std::vector<Watchpoint> Watchpoints::listing() const {
  std::vector<Watchpoint> out;
  for (bool write : {false, true})
    for (const Watchpoint &w : list_)
      if (w.write == write) out.push_back(w);
  return out;
}

}  // namespace sim
