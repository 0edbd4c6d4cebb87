// Which address a place shown by VUM is named by. Symbols are linear
// addresses; a place is shown as CS:EIP and a physical address, or as a
// breakpoint of one of three kinds. The registers of the last stop decide:
//   - an instruction with the CS of the last stop: that segment's base plus
//     EIP; with another CS (a trace that went through a far jump): CS times
//     16 when the last stop was in real or virtual-8086 mode, else its
//     physical address while paging was off, else no name;
//   - a linear breakpoint: its address; a physical one: its address while
//     paging was off (then physical and linear are the same), else no name;
//   - a virtual breakpoint: SEGMENT times 16 in real or virtual-8086 mode,
//     the base of CS when SEGMENT is the CS of the last stop, else no name.
// Before the first stop, segments are taken as in real mode and paging as
// off, which is how every PC starts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/cpu_scan.hpp"
#include "text/point_lists.hpp"
#include "text/stop_scan.hpp"

// The registers of a stop (the shell gives them before any page hears of it).
void remember_stop_registers(const CpuState &cpu);
void forget_stop_registers();

// The linear address of an instruction place by the rules above; false when
// it cannot be told.
bool location_linear(const StopLocation &at, uint32_t *linear);

// " <name+0x1f>" of a place, written after `out`'s text (which it keeps),
// when a symbol names it; nothing changes otherwise. True when one was added.
bool append_location_symbol(const StopLocation &at, char *out, size_t size);
bool append_breakpoint_symbol(const Breakpoint &b, char *out, size_t size);
