// Execution of the x86 subset, one instruction (or one iteration of a
// repeated string instruction) at a time.
//
// Behaviour worth knowing when reading a run:
// - A repeated string instruction runs one iteration per step; EIP stays on
//   it until the count runs out (or the repe/repne condition ends it).
// - An opcode outside the subset raises the invalid-opcode fault: in real
//   mode that is interrupt 6 through the vector table, whose BIOS handler
//   halts. In protected mode no interrupt or fault is delivered (there is no
//   interrupt descriptor table here): int, iret and every fault shut the
//   processor down on the faulting instruction.
// - hlt halts for good: there are no device interrupts. A halted or shut
//   down processor executes nothing.
// - No limit or privilege checks; no paging: linear addresses are physical.
#pragma once

#include <cstdint>

#include "decoder.hpp"
#include "machine.hpp"

namespace sim {

// A data access made by an instruction (instruction fetches are not
// recorded), at a physical address.
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
  Executed,   // an instruction completed (EIP moved on)
  Repeating,  // an iteration of a repeated string instruction ran; EIP stays
  Idle,       // halted or shut down: nothing was executed
};

// Executes one step. When `log` is given, the data accesses of the step are
// appended to it.
StepResult step(Machine &m, AccessLog *log = nullptr);

}  // namespace sim
