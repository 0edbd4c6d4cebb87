// Breakpoints and watchpoints of the debugger.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu.hpp"

namespace sim {

enum class BreakKind { Physical, Linear, Virtual };

struct Breakpoint {
  unsigned number;
  BreakKind kind;
  uint16_t segment;  // virtual breakpoints only
  uint32_t offset;   // the address; for a virtual breakpoint the offset
  uint32_t linear;   // where it stops: the physical address for a physical
                     // breakpoint, the linear address for the others
};

struct Watchpoint {
  bool write;
  uint32_t address;  // one physical byte
};

class Breakpoints {
 public:
  static constexpr size_t kMax = 1000;
  // Numbers count from 1 and are never reused. Returns 0 when full.
  unsigned add(BreakKind kind, uint16_t segment, uint32_t offset, uint32_t linear);
  bool remove(unsigned number);
  // The lowest-numbered breakpoint at the instruction whose linear and
  // physical addresses are given, or null. `physical_known` is false when
  // the instruction's page is not present.
  const Breakpoint *at(uint32_t linear, uint32_t physical, bool physical_known = true) const;
  bool empty() const { return list_.empty(); }
  const std::vector<Breakpoint> &list() const { return list_; }

 private:
  std::vector<Breakpoint> list_;
  unsigned next_ = 1;
};

class Watchpoints {
 public:
  static constexpr size_t kMax = 256;
  // Adding a watchpoint that exists already changes nothing. False when full.
  bool add(bool write, uint32_t address);
  bool remove(bool write, uint32_t address);
  void clear() { list_.clear(); }
  // The first watchpoint that an access of the log hits, in the order of the
  // accesses; null when none does.
  const Watchpoint *hit(const AccessLog &log) const;
  // Read watchpoints first, then write watchpoints, each in the order added.
  std::vector<Watchpoint> listing() const;

 private:
  std::vector<Watchpoint> list_;
};

}  // namespace sim
