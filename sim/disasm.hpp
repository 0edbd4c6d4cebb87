// Intel-syntax disassembly of decoded instructions, in lower case: the
// instruction text of the debugger's current-instruction and trace lines.
#pragma once

#include <string>

#include "decoder.hpp"

namespace sim {

// The instruction as text, e.g. "mov ax, word ptr ds:[0x500]", "rep: movsb",
// "call 0x7c11", "jmp far 0xf000:0xe05b". It never holds ';' or '<'.
std::string disassemble(const Insn &in);

// The instruction's bytes as lower-case hex digits without separators.
std::string hex_bytes(const Insn &in);

}  // namespace sim
