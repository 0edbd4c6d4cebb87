#include "text/cpu_mode.hpp"

#include <cinttypes>
#include <cstdio>

namespace {

const uint32_t cr0_pe = 1u << 0;
const uint32_t cr0_pg = 1u << 31;
const uint32_t eflags_vm = 1u << 17;
const uint32_t descriptor_d = 1u << 22;  // in dh

}  // namespace

CpuMode cpu_mode(const CpuState &cpu) {
  if (!(cpu.cr0 & cr0_pe)) return CpuMode::real;
  if (cpu.eflags & eflags_vm) return CpuMode::virtual8086;
  return cpu.cs.dh & descriptor_d ? CpuMode::protected32 : CpuMode::protected16;
}

bool paging_on(const CpuState &cpu) { return (cpu.cr0 & cr0_pe) && (cpu.cr0 & cr0_pg); }

std::string describe_cpu_mode(const CpuState &cpu) {
  const char *mode = "Real mode";
  switch (cpu_mode(cpu)) {
    case CpuMode::real: break;
    case CpuMode::protected16: mode = "Protected mode, 16-bit"; break;
    case CpuMode::protected32: mode = "Protected mode, 32-bit"; break;
    case CpuMode::virtual8086: mode = "Virtual-8086 mode"; break;
  }
  return std::string(mode) + (paging_on(cpu) ? ", paging on" : ", paging off");
}

std::string format_status_line(const CpuState &cpu, bool has_ticks, uint64_t ticks) {
  std::string line = describe_cpu_mode(cpu);
  if (has_ticks) {
    char t[32];
    snprintf(t, sizeof t, "    t=%" PRIu64, ticks);
    line += t;
  }
  return line;
}

uint32_t descriptor_base(const SegmentState &segment) {
  return (segment.dl >> 16) | ((segment.dh & 0xffu) << 16) | (segment.dh & 0xff000000u);
}

uint32_t code_segment_base(const CpuState &cpu) {
  switch (cpu_mode(cpu)) {
    case CpuMode::real:
    case CpuMode::virtual8086:
      return (cpu.cs.selector & 0xffffu) << 4;
    default:
      return descriptor_base(cpu.cs);
  }
}

bool code_is_16bit(const CpuState &cpu) { return cpu_mode(cpu) != CpuMode::protected32; }
