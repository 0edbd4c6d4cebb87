// The simulated PC: 16 MiB of physical memory and the register file of one
// x86 processor, with the segment caches kept as descriptor fields so that
// the debugger can show them as the two descriptor doublewords; the page
// translation (32-bit, non-PAE) that linear addresses go through once CR0.PG
// is set.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t kMemorySize = 16u << 20;

// Segment registers in the x86 encoding order (the sreg field of ModRM),
// followed by the two system segment registers.
enum SegIndex { ES = 0, CS, SS, DS, FS, GS, LDTR, TR, kSegCount };

// General registers in the x86 encoding order.
enum RegIndex { EAX = 0, ECX, EDX, EBX, ESP, EBP, ESI, EDI };

// EFLAGS bits used by the processor.
constexpr uint32_t CF = 1u << 0;
constexpr uint32_t PF = 1u << 2;
constexpr uint32_t AF = 1u << 4;
constexpr uint32_t ZF = 1u << 6;
constexpr uint32_t SF = 1u << 7;
constexpr uint32_t TF = 1u << 8;
constexpr uint32_t IF = 1u << 9;
constexpr uint32_t DF = 1u << 10;
constexpr uint32_t OF = 1u << 11;
constexpr uint32_t NT = 1u << 14;
constexpr uint32_t RF = 1u << 16;
constexpr uint32_t VM = 1u << 17;

// Control register bits the processor acts on.
constexpr uint32_t kCr0Pe = 1u << 0;   // protected mode
constexpr uint32_t kCr0Ts = 1u << 3;   // task switched (clts clears it)
constexpr uint32_t kCr0Et = 1u << 4;   // a coprocessor is there: always set
constexpr uint32_t kCr0Pg = 1u << 31;  // paging
constexpr uint32_t kCr4Pse = 1u << 4;  // 4 MiB pages

// The I/O port whose bytes are the guest's console (standard output).
constexpr uint16_t kConsolePort = 0xe9;

// A segment register with its hidden descriptor cache.
struct Segment {
  uint16_t selector = 0;
  uint32_t base = 0;
  uint32_t limit = 0xffff;  // the 20-bit limit field of the descriptor
  uint8_t access = 0x93;    // present, writable data, accessed
  bool db = false;          // D/B flag: 32-bit code or stack
  bool g = false;           // granularity flag
  bool valid = true;

  // The descriptor doublewords in x86 layout.
  uint32_t dl() const { return (limit & 0xffff) | ((base & 0xffff) << 16); }
  uint32_t dh() const {
    return ((base >> 16) & 0xff) | (uint32_t(access) << 8) | (limit & 0xf0000) | (db ? 1u << 22 : 0) |
           (g ? 1u << 23 : 0) | (base & 0xff000000);
  }
  // Fills the fields from descriptor doublewords.
  void set_descriptor(uint32_t dl, uint32_t dh);
};

struct Cpu {
  uint32_t regs[8] = {};
  uint32_t eip = 0;
  uint32_t eflags = 0x00000002;
  Segment seg[kSegCount];
  uint32_t gdtr_base = 0, gdtr_limit = 0xffff;
  uint32_t idtr_base = 0, idtr_limit = 0x3ff;
  uint32_t cr[5] = {0x00000010, 0, 0, 0, 0};
  uint32_t dr[8] = {};
  uint32_t tr[8] = {};  // test registers; TR3 to TR7 are used
  // After hlt: no device ever interrupts, so the processor stays halted.
  bool halted = false;
  // After a triple fault, unless the machine resets on one: the processor
  // stays on the faulting instruction and executes nothing.
  bool shutdown = false;

  bool protected_mode() const { return cr[0] & kCr0Pe; }
  bool paging() const { return (cr[0] & (kCr0Pg | kCr0Pe)) == (kCr0Pg | kCr0Pe); }
  bool code32() const { return seg[CS].db; }
  bool stack32() const { return seg[SS].db; }
  uint32_t linear_ip() const { return seg[CS].base + eip; }
};

class Memory {
 public:
  Memory() : bytes_(kMemorySize, 0) {}
  // Reads beyond the installed memory see 0xff; writes there are lost.
  uint8_t read8(uint32_t a) const { return a < kMemorySize ? bytes_[a] : 0xff; }
  void write8(uint32_t a, uint8_t v) {
    if (a < kMemorySize) bytes_[a] = v;
  }
  uint32_t read(uint32_t a, unsigned size) const {
    uint32_t v = 0;
    for (unsigned i = 0; i < size; ++i) v |= uint32_t(read8(a + i)) << (8 * i);
    return v;
  }
  void write(uint32_t a, unsigned size, uint32_t v) {
    for (unsigned i = 0; i < size; ++i) write8(a + i, uint8_t(v >> (8 * i)));
  }
  // All bytes back to zero, as at power-on.
  void clear() { std::fill(bytes_.begin(), bytes_.end(), 0); }
  static bool in_range(uint64_t a, uint64_t len) { return a <= kMemorySize && len <= kMemorySize - a; }
  void load(uint32_t a, const uint8_t *data, size_t len) {
    for (size_t i = 0; i < len; ++i) write8(a + uint32_t(i), data[i]);
  }

 private:
  std::vector<uint8_t> bytes_;
};

struct Machine {
  Memory mem;
  Cpu cpu;
  uint64_t ticks = 0;  // instructions executed so far
  // A triple fault resets the machine (reboot) instead of shutting the
  // processor down.
  bool reset_on_triple_fault = false;
  // The boot image, loaded again at 0x7c00 by a reboot.
  std::vector<uint8_t> boot_image;
  // Bytes the guest wrote to the console port that the debugger has not
  // taken yet.
  std::string console;
};

// The state after power-on: registers as the processor leaves them, the
// BIOS area (reset vector, interrupt handlers) and the interrupt vector
// table. The boot image is loaded separately.
void reset(Machine &m);

// Loads the boot image at 0x7c00 (cut at the end of memory) and keeps it for
// reboots. False when it had to be cut.
bool load_boot_image(Machine &m, const uint8_t *data, size_t size);

// What a triple fault does when the machine resets on one: the processor's
// power-on state, the BIOS area and vector table written again and the boot
// image loaded again, as a reboot from the disk would; the rest of memory
// and the tick count stay.
void reboot(Machine &m);

// The physical address of a linear one: the same without paging; through
// the page directory at CR3 (4 KiB pages, and 4 MiB pages when CR4.PSE is
// set) with it. False when the page is not present. Accessed and dirty bits
// are not written.
bool translate(const Machine &m, uint32_t linear, uint32_t *physical);

// Reads `size` (at most 4) bytes at a linear address, byte by byte through
// the translation. False when a byte's page is not present.
bool read_linear(const Machine &m, uint32_t linear, unsigned size, uint32_t *value);

// Real-mode segment load: selector and base change, the rest of the cache
// stays as it is (as on a 386).
void load_real_segment(Segment &s, uint16_t selector);

// Reads the descriptor for `selector` from the global descriptor table in
// memory (at a linear address: through the pages when paging is on). False
// when the selector lies outside the table or is null, or when the table's
// page is not present.
bool read_descriptor(const Machine &m, uint16_t selector, Segment *out);

// The linear address that selector:offset denotes now: in real mode
// selector*16 + offset; in protected mode the base of the cached CS or SS
// when the selector matches one of them, else the base of the descriptor in
// the global descriptor table.
bool virtual_to_linear(const Machine &m, uint16_t selector, uint32_t offset, uint32_t *linear);

}  // namespace sim
