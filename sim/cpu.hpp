// Execution of the x86 subset, one instruction (or one iteration of a
// repeated string instruction) at a time.
//
// Behaviour worth knowing when reading a run:
// - A repeated string instruction runs one iteration per step; EIP stays on
//   it until the count runs out (or the repe/repne condition ends it).
// - A fault leaves no trace of the instruction that raised it (registers and
//   memory are as they were before it) and is delivered: in real mode
//   through the vector table, in protected mode through the interrupt
//   descriptor table (interrupt and trap gates, 16 and 32 bits, at the
//   current privilege: no stack switch, no task gates). A fault met while
//   delivering another becomes a double fault by the x86 rules (two
//   contributory faults, or a page fault and then a contributory or page
//   fault); a fault met while delivering a double fault is a triple fault.
//   A triple fault shuts the processor down on the instruction that raised
//   the first fault, or, when the machine resets on one, reboots it.
// - An opcode outside the subset raises the invalid-opcode fault (6); the
//   BIOS handler of vector 6 halts.
// - hlt halts for good: there are no device interrupts. A halted or shut
//   down processor executes nothing.
// - With paging on, every fetch and data access goes through the page
//   tables; a page that is not present raises the page fault (14) with CR2
//   set. There are no limit or privilege checks.
// - Writes to I/O port 0xe9 go to the machine's console; reads of it give
//   0xe9, reads of any other port all ones.
#pragma once

#include <cstdint>

#include "decoder.hpp"
#include "machine.hpp"

namespace sim {

// A data access made by an instruction (instruction fetches and descriptor
// reads are not recorded), at a physical address.
struct Access {
  uint32_t address;
  uint8_t size;
  bool write;
};

struct AccessLog {
  static constexpr unsigned kCapacity = 16;
  Access items[kCapacity];
  unsigned count = 0;
  void add(uint32_t address, unsigned size, bool write) {
    if (count < kCapacity) items[count++] = Access{address, uint8_t(size), write};
  }
};

enum class StepResult {
  Executed,   // an instruction completed (EIP moved on), or a fault was delivered
  Repeating,  // an iteration of a repeated string instruction ran; EIP stays
  Idle,       // halted or shut down: nothing was executed
};

// What a step met besides its result.
struct StepEvents {
  bool magic = false;  // it executed xchg bx, bx (the magic breakpoint)
  bool reset = false;  // a triple fault rebooted the machine
};

// Executes one step. When `log` is given, the data accesses of the step are
// appended to it; when `events` is given, it tells what the step met.
StepResult step(Machine &m, AccessLog *log = nullptr, StepEvents *events = nullptr);

}  // namespace sim
