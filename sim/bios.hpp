// The firmware of the simulated PC and the built-in boot image.
//
// BIOS area (segment F000):
//   F000:FF53  iret               handler of every interrupt vector but 6
//   F000:FF54  hlt; jmp FF54      handler of vector 6 (invalid opcode): the
//                                 machine stops there until interrupted
//   F000:FFF0  jmp far 0000:7C00  the reset vector
// Interrupt vector table at 0000:0000, 256 vectors, filled as above.
//
// Built-in demo, loaded at 0000:7C00 (labels and what each part is for):
//   7C00 start    cli; ds = es = ss = 0; sp = 7C00; sti
//   7C0D          call clear                  a call to step over
//   7C10          mov cx, 5
//   7C13 count    call bump                   called five times
//   7C16          loop count                  the loop
//   7C18          mov ax, [0500]              reads the counter
//   7C1B          cmp ax, 5
//   7C1E          jnz spin                    conditional jump, not taken
//   7C20          si = msg, di = 0600, cx = 8, cld
//   7C2A          rep movsb                   copies "VUM demo" to 0600
//   7C2C          cmp byte [0600], 'V'
//   7C31          jz copied                   conditional jump, taken
//   7C33          hlt                         skipped by the jump above
//   7C34 copied   int 0x10                    through the vector table
//   7C36          call far 0000:7C5A          a far call to step over
//   7C3B spin     jmp spin                    endless loop: Go runs until Stop
//   7C3D bump     push bp; mov bp, sp; push ax
//                 inc word at 0500 (read, then written); pop ax; pop bp; ret
//   7C4B clear    push cx; push di; rep stosb zeroes 0500..050F; pop; ret
//   7C5A farsub   mov word [0502], 0x1234; retf
//   7C61 msg      "VUM demo"
// Data: the counter word at 0500 (written once per loop pass, and by clear),
// the word at 0502 (written by farsub), the copy at 0600. Stack top 0000:7C00.
#pragma once

#include <cstddef>
#include <cstdint>

#include "machine.hpp"

namespace sim {
namespace bios {

constexpr uint16_t kResetSegment = 0xf000;
constexpr uint32_t kResetOffset = 0xfff0;
constexpr uint32_t kIretStub = 0xff53;     // offset in segment F000
constexpr uint32_t kHaltStub = 0xff54;     // offset in segment F000
constexpr uint32_t kBootAddress = 0x7c00;  // where the boot image is loaded

// Writes the BIOS area and the interrupt vector table.
void install(Memory &mem);

// The built-in demo program and its labels.
extern const uint8_t kDemo[];
extern const size_t kDemoSize;

namespace demo {
constexpr uint32_t start = 0x7c00;
constexpr uint32_t call_clear = 0x7c0d;
constexpr uint32_t set_count = 0x7c10;
constexpr uint32_t count = 0x7c13;
constexpr uint32_t loop = 0x7c16;
constexpr uint32_t check = 0x7c18;
constexpr uint32_t jnz_spin = 0x7c1e;
constexpr uint32_t copy = 0x7c20;
constexpr uint32_t rep_movsb = 0x7c2a;
constexpr uint32_t check_copy = 0x7c2c;
constexpr uint32_t jz_copied = 0x7c31;
constexpr uint32_t halt = 0x7c33;
constexpr uint32_t copied = 0x7c34;
constexpr uint32_t call_far = 0x7c36;
constexpr uint32_t spin = 0x7c3b;
constexpr uint32_t bump = 0x7c3d;
constexpr uint32_t clear = 0x7c4b;
constexpr uint32_t farsub = 0x7c5a;
constexpr uint32_t msg = 0x7c61;
constexpr uint32_t counter = 0x0500;
constexpr uint32_t far_word = 0x0502;
constexpr uint32_t buffer = 0x0600;
}  // namespace demo

}  // namespace bios
}  // namespace sim
