// The instruction decoder. One decoded form drives both the processor and
// the disassembler, so what the debugger shows is exactly what executes.
#pragma once

#include <cstdint>

#include "machine.hpp"

namespace sim {

enum class Op : uint8_t {
  Invalid,  // not in the subset: raises the invalid-opcode fault
  // Arithmetic and logic; the first eight are in the x86 group-1 order.
  Add, Or, Adc, Sbb, And, Sub, Xor, Cmp,
  Test, Inc, Dec, Not, Neg,
  Mov, Lea, Xchg, Cbw, Cwd, Sahf, Lahf,
  Push, Pop, Pushf, Popf,
  Jmp, JmpFar, Jcc, Call, CallFar, Ret, RetFar, Int, Int3, Iret,
  Loop, Loope, Loopne, Jcxz,
  Movs, Stos, Lods, Cmps, Scas,
  Nop, Hlt, Cli, Sti, Clc, Stc, Cmc, Cld, Std,
  In, Out,
  // System instructions: descriptor tables, task and LDT registers, the
  // machine status word, the TLB and the TS flag. mov to and from control
  // registers is Mov with a CReg operand.
  Lgdt, Lidt, Sgdt, Sidt, Lldt, Ltr, Sldt, Str, Smsw, Lmsw, Invlpg, Clts,
};

enum class Kind : uint8_t {
  None,
  Reg,   // general register `reg` of `size` bytes (size 1: al..bh)
  SReg,  // segment register `reg`
  Mem,   // the instruction's memory operand, `size` bytes
  Imm,   // immediate `value`, already extended to `size`
  Rel,   // branch target offset `value`
  Far,   // far pointer `sel`:`value`
  CReg,  // control register `reg`
};

struct Operand {
  Kind kind = Kind::None;
  uint8_t size = 0;
  uint8_t reg = 0;
  uint16_t sel = 0;
  uint32_t value = 0;
};

// The memory operand: seg:[base + index*scale + disp].
struct MemRef {
  int8_t base = -1;   // register number or -1
  int8_t index = -1;  // register number or -1
  uint8_t scale = 1;
  uint8_t disp_size = 0;  // 0, 1, 2 or 4 bytes of displacement in the code
  uint32_t disp = 0;      // sign-extended to the address size
  uint8_t seg = DS;       // effective segment (default or override)
};

struct Insn {
  Op op = Op::Invalid;
  uint8_t length = 0;
  uint8_t opsize = 2;       // operand size: 2 or 4 bytes
  bool addr32 = false;      // 32-bit addressing
  int8_t seg_override = -1; // segment prefix or -1
  uint8_t rep = 0;          // 0, 0xf3 (rep/repe) or 0xf2 (repne)
  uint8_t cond = 0;         // condition code of jcc (low nibble of the opcode)
  uint8_t width = 0;        // data size of string operations and cbw/cwd forms
  Operand a, b;             // destination, source
  MemRef mem;
  uint8_t bytes[15] = {};
  // The instruction needed more than the `avail` bytes it was given (fewer
  // than 15): its decoding is Invalid, the cause is the missing byte, and
  // `length` is `avail` (0 when there was none).
  bool incomplete = false;
};

// Decodes one instruction from `code` (at most `avail` bytes, at most 15
// used) located at offset `eip` in a code segment of the given default size.
Insn decode(const uint8_t *code, unsigned avail, bool code32, uint32_t eip);

// Copies up to 15 code bytes from the linear addresses base + ((eip + i) &
// mask), through the page translation, stopping at the first byte whose
// page is not present (or, with `in_memory`, that lies beyond memory).
// Returns how many bytes were copied.
unsigned fetch_code(const Machine &m, uint32_t base, uint32_t eip, uint32_t mask, uint8_t *out,
                    bool in_memory = false);

// Fetches and decodes the instruction at CS:EIP of the machine. When the
// instruction runs into a page that is not present, it comes back
// incomplete and `missing` gets the linear address of the first byte
// that could not be read.
Insn decode_at(const Machine &m, uint32_t *missing = nullptr);

}  // namespace sim
