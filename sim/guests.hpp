// The built-in guests: small boot images, assembled from guests/*.asm, that
// the front end's tests start with VUM_SIM_GUEST=NAME (or --guest NAME) in
// place of the demo. Each is loaded at 0000:7C00 like any boot image; the
// labels below stand at fixed addresses (guests/place.inc), and the README
// lists them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

struct GuestImage {
  const char *name;
  const uint8_t *bytes;
  size_t size;
};

extern const GuestImage kGuestImages[];
extern const size_t kGuestImageCount;

// The guest of that name, or null.
const GuestImage *find_guest(const std::string &name);

// The names of the guests, separated by '|' ("e9|magic|...").
std::string guest_names();

namespace guest {

// "e9": "hello from e9\n" through out 0xe9, al; then "e9 loop\n" through
// out dx, al, for ever.
namespace e9 {
constexpr uint32_t start = 0x7c00;
constexpr uint32_t greet = 0x7c10;
constexpr uint32_t out_imm = 0x7c15;  // out 0xe9, al
constexpr uint32_t looping = 0x7c20;
constexpr uint32_t next = 0x7c26;
constexpr uint32_t out_dx = 0x7c2b;  // out dx, al
constexpr uint32_t hello = 0x7c40;
constexpr uint32_t line = 0x7c4f;
}  // namespace e9

// "magic": "before the magic breakpoint\n" through port 0xe9, then two
// xchg bx, bx.
namespace magic {
constexpr uint32_t start = 0x7c00;
constexpr uint32_t print = 0x7c0e;
constexpr uint32_t magic1 = 0x7c20;
constexpr uint32_t after1 = 0x7c22;
constexpr uint32_t magic2 = 0x7c25;
constexpr uint32_t after2 = 0x7c27;
constexpr uint32_t spin = 0x7c2a;
constexpr uint32_t text = 0x7c30;
}  // namespace magic

// "triple": counts its boots in the word at 0x500, loads an empty interrupt
// table and raises int 3: a triple fault.
namespace triple {
constexpr uint32_t start = 0x7c00;
constexpr uint32_t fault = 0x7c20;
constexpr uint32_t boots = 0x0500;
constexpr uint32_t no_idt = 0x7c30;
}  // namespace triple

// "hlt": cli; hlt; jmp back to the hlt.
namespace hlt {
constexpr uint32_t start = 0x7c00;
constexpr uint32_t halt = 0x7c01;
constexpr uint32_t after = 0x7c02;
}  // namespace hlt

// "paging": protected mode, descriptor tables, paging (see guests/paging.asm).
namespace paging {
constexpr uint32_t start = 0x7c00;
constexpr uint32_t protected_entry = 0x7c30;
constexpr uint32_t identity = 0x7c6b;
constexpr uint32_t paged = 0x7cc0;
constexpr uint32_t int3 = 0x7cd4;
constexpr uint32_t int30 = 0x7cd6;
constexpr uint32_t unmapped_read = 0x7cd8;
constexpr uint32_t done = 0x7ce0;
constexpr uint32_t int3_handler = 0x7cf0;
constexpr uint32_t pf_handler = 0x7d00;
constexpr uint32_t gp_handler = 0x7d18;
constexpr uint32_t df_handler = 0x7d20;
constexpr uint32_t int30_handler = 0x7d28;
constexpr uint32_t gdt = 0x7d40;
constexpr uint32_t gdt_limit = 0x3f;
constexpr uint32_t tss = 0x7d90;
constexpr uint32_t idt = 0x7e00;
constexpr uint32_t idt_limit = 0x187;
constexpr uint32_t page_dir = 0x10000;
constexpr uint32_t page_table0 = 0x11000;
constexpr uint32_t page_table2 = 0x12000;
constexpr uint32_t moved_linear = 0x00800000;
constexpr uint32_t moved_physical = 0x00013000;
constexpr uint32_t big_linear = 0x00400000;
constexpr uint32_t big_physical = 0x00c00000;
constexpr uint32_t absent_linear = 0x00801000;
constexpr uint32_t int3_count = 0x500;
constexpr uint32_t int30_count = 0x504;
constexpr uint32_t pf_error = 0x508;
constexpr uint32_t pf_address = 0x50c;
constexpr uint32_t gp_error = 0x510;
}  // namespace paging

}  // namespace guest
}  // namespace sim
