// The processor's mode as the registers of a stop give it: the words of the
// status line, and the code segment's base and size that turn CS:EIP into
// the linear address the disassembly command and the symbols go by.
#pragma once

#include <cstdint>
#include <string>

#include "text/cpu_scan.hpp"

enum class CpuMode {
  real,             // CR0.PE clear
  protected16,      // CR0.PE set, CS's D bit clear
  protected32,      // CR0.PE set, CS's D bit set
  virtual8086,      // CR0.PE set and EFLAGS.VM set: 16-bit code, segments as in real mode
};

CpuMode cpu_mode(const CpuState &cpu);
bool paging_on(const CpuState &cpu);  // CR0.PG (only meaningful with CR0.PE)

// "Real mode", "Protected mode, 16-bit", "Protected mode, 32-bit" or
// "Virtual-8086 mode", then ", paging on" or ", paging off".
std::string describe_cpu_mode(const CpuState &cpu);

// The status line: the mode, then "t=N" when the stop gave its tick count.
std::string format_status_line(const CpuState &cpu, bool has_ticks, uint64_t ticks);

// The linear address of CS's offset 0: the selector times 16 in real and
// virtual-8086 mode, the descriptor's base in protected mode.
uint32_t code_segment_base(const CpuState &cpu);

// The base held in a descriptor's two words (dl: limit 15..0 and base 15..0;
// dh: base 31..24, flags, limit 19..16, access, base 23..16).
uint32_t descriptor_base(const SegmentState &segment);

// True when the code runs 16-bit: real and virtual-8086 mode, or a CS whose
// D bit is clear. Its offsets then wrap at 64 KiB.
bool code_is_16bit(const CpuState &cpu);
