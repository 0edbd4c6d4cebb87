#include "text/symbol_places.hpp"

#include <cstdio>
#include <cstring>

#include "text/cpu_mode.hpp"
#include "text/symbols.hpp"

namespace {

struct LastStop {
  bool known;
  CpuState cpu;
};
LastStop last = {};

bool segments_as_real_mode() {
  if (!last.known) return true;
  CpuMode mode = cpu_mode(last.cpu);
  return mode == CpuMode::real || mode == CpuMode::virtual8086;
}

bool paging_was_off() { return !last.known || !paging_on(last.cpu); }

bool append_symbol(uint32_t linear, char *out, size_t size) {
  if (symbol_count() == 0) return false;
  char name[160];
  if (!symbol_at(linear, name, sizeof name)) return false;
  size_t used = strnlen(out, size);
  if (used + 4 >= size) return false;
  snprintf(out + used, size - used, " <%s>", name);
  return true;
}

}  // namespace

void remember_stop_registers(const CpuState &cpu) {
  last.known = true;
  last.cpu = cpu;
}

void forget_stop_registers() { last = LastStop{}; }

bool location_linear(const StopLocation &at, uint32_t *linear) {
  if (last.known && at.cs == last.cpu.cs.selector) {
    *linear = code_segment_base(last.cpu) + at.eip;
    return true;
  }
  if (segments_as_real_mode()) {
    *linear = ((at.cs & 0xffffu) << 4) + at.eip;
    return true;
  }
  if (paging_was_off()) {
    *linear = at.physical_address;
    return true;
  }
  return false;
}

bool append_location_symbol(const StopLocation &at, char *out, size_t size) {
  uint32_t linear;
  if (symbol_count() == 0 || !location_linear(at, &linear)) return false;
  return append_symbol(linear, out, size);
}

bool append_breakpoint_symbol(const Breakpoint &b, char *out, size_t size) {
  if (symbol_count() == 0) return false;
  switch (b.kind) {
    case breakpoint_linear:
      return append_symbol(b.offset, out, size);
    case breakpoint_physical:
      return paging_was_off() && append_symbol(b.offset, out, size);
    case breakpoint_virtual:
      if (segments_as_real_mode()) return append_symbol(((b.segment & 0xffffu) << 4) + b.offset, out, size);
      if (b.segment == last.cpu.cs.selector) return append_symbol(code_segment_base(last.cpu) + b.offset, out, size);
      return false;
  }
  return false;
}
