#include "bios.hpp"

namespace sim {
namespace bios {

const uint8_t kDemo[] = {
    0xfa,                          // 7c00 start:  cli
    0x31, 0xc0,                    // 7c01         xor ax, ax
    0x8e, 0xd8,                    // 7c03         mov ds, ax
    0x8e, 0xc0,                    // 7c05         mov es, ax
    0x8e, 0xd0,                    // 7c07         mov ss, ax
    0xbc, 0x00, 0x7c,              // 7c09         mov sp, 0x7c00
    0xfb,                          // 7c0c         sti
    0xe8, 0x3b, 0x00,              // 7c0d         call clear
    0xb9, 0x05, 0x00,              // 7c10         mov cx, 5
    0xe8, 0x27, 0x00,              // 7c13 count:  call bump
    0xe2, 0xfb,                    // 7c16         loop count
    0xa1, 0x00, 0x05,              // 7c18         mov ax, [0x500]
    0x83, 0xf8, 0x05,              // 7c1b         cmp ax, 5
    0x75, 0x1b,                    // 7c1e         jnz spin
    0xbe, 0x61, 0x7c,              // 7c20         mov si, msg
    0xbf, 0x00, 0x06,              // 7c23         mov di, 0x600
    0xb9, 0x08, 0x00,              // 7c26         mov cx, 8
    0xfc,                          // 7c29         cld
    0xf3, 0xa4,                    // 7c2a         rep movsb
    0x80, 0x3e, 0x00, 0x06, 0x56,  // 7c2c         cmp byte [0x600], 'V'
    0x74, 0x01,                    // 7c31         jz copied
    0xf4,                          // 7c33         hlt
    0xcd, 0x10,                    // 7c34 copied: int 0x10
    0x9a, 0x5a, 0x7c, 0x00, 0x00,  // 7c36         call far 0000:farsub
    0xeb, 0xfe,                    // 7c3b spin:   jmp spin
    0x55,                          // 7c3d bump:   push bp
    0x89, 0xe5,                    // 7c3e         mov bp, sp
    0x50,                          // 7c40         push ax
    0xa1, 0x00, 0x05,              // 7c41         mov ax, [0x500]
    0x40,                          // 7c44         inc ax
    0xa3, 0x00, 0x05,              // 7c45         mov [0x500], ax
    0x58,                          // 7c48         pop ax
    0x5d,                          // 7c49         pop bp
    0xc3,                          // 7c4a         ret
    0x51,                          // 7c4b clear:  push cx
    0x57,                          // 7c4c         push di
    0xbf, 0x00, 0x05,              // 7c4d         mov di, 0x500
    0xb9, 0x10, 0x00,              // 7c50         mov cx, 0x10
    0x30, 0xc0,                    // 7c53         xor al, al
    0xf3, 0xaa,                    // 7c55         rep stosb
    0x5f,                          // 7c57         pop di
    0x59,                          // 7c58         pop cx
    0xc3,                          // 7c59         ret
    0xc7, 0x06, 0x02, 0x05, 0x34, 0x12,  // 7c5a farsub: mov word [0x502], 0x1234
    0xcb,                                // 7c60         retf
    'V', 'U', 'M', ' ', 'd', 'e', 'm', 'o',  // 7c61 msg
};
const size_t kDemoSize = sizeof kDemo;

void install(Memory &mem) {
  const uint32_t area = uint32_t(kResetSegment) << 4;
  static const uint8_t halt_stub[] = {0xf4, 0xeb, 0xfd};  // hlt; jmp short back to the hlt
  mem.write8(area + kIretStub, 0xcf);                     // iret
  mem.load(area + kHaltStub, halt_stub, sizeof halt_stub);
  static const uint8_t reset_jump[] = {0xea, 0x00, 0x7c, 0x00, 0x00};  // jmp far 0000:7c00
  mem.load(area + kResetOffset, reset_jump, sizeof reset_jump);
  for (uint32_t v = 0; v < 256; ++v) {
    mem.write(v * 4, 2, v == 6 ? kHaltStub : kIretStub);
    mem.write(v * 4 + 2, 2, kResetSegment);
  }
}

}  // namespace bios
}  // namespace sim
