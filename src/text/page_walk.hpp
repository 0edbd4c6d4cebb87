// The processor's translation of a linear address through its page tables:
// 32-bit paging with 4 KiB pages and, with CR4.PSE, 4 MiB pages; PAE paging
// (CR4.PAE) with 4 KiB and 2 MiB pages. The walk reads each entry through a
// reader the caller gives (a page asks the debugger, a test reads an array),
// and tells every step, its entry and flags, the page and the physical
// address, or the level where it stopped. No toolkit, no debugger.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Reads `size` (4 or 8) bytes of physical memory at `address`, little-endian;
// false when they cannot be read.
typedef std::function<bool(uint32_t address, unsigned size, uint64_t *value)> PhysicalReader;

// The bits of CR0 and CR4 the walk follows.
const uint32_t cr0_pe = 1u << 0;
const uint32_t cr0_pg = 1u << 31;
const uint32_t cr4_pse = 1u << 4;
const uint32_t cr4_pae = 1u << 5;

enum class WalkLevel { pdpt, directory, table };

struct WalkStep {
  WalkLevel level;
  uint32_t index;          // of the entry in its table
  uint64_t entry_address;  // physical
  uint64_t entry;          // its value, when read
  bool read;               // the entry could be read
};

enum class WalkOutcome {
  paging_off,   // CR0.PG clear: the linear address is the physical one
  mapped,
  not_present,  // an entry's present bit is clear (the last step)
  unreadable,   // an entry could not be read (the last step), or lies above 4 GiB
};

struct PageWalk {
  uint32_t linear;
  WalkOutcome outcome;
  bool pae;
  int steps;               // 0 to 3
  WalkStep step[3];
  uint64_t physical;       // mapped or paging_off
  uint64_t page_base;      // mapped: the page's first byte
  uint32_t page_size;      // mapped: 4096, 2 MiB or 4 MiB
};

// Walks the tables for `linear` with the control registers given.
PageWalk walk_page_tables(uint32_t linear, uint32_t cr0, uint32_t cr3, uint32_t cr4, const PhysicalReader &read);

// "PDPTE", "PDE", "PTE".
const char *walk_level_name(WalkLevel level);
// "page directory pointer table entry", "page directory entry", "page table entry".
const char *walk_level_words(WalkLevel level);

// The flags of an entry, short: "P RW S A D PS G" (only the bits set, with
// RW/RO and U/S always named), "not present" when P is clear. `large_page`:
// a directory entry that maps a page itself (D and G then count).
std::string entry_flags_text(uint64_t entry, WalkLevel level, bool pae, bool large_page);

// Where an entry leads: "table 00012000", "4 MiB page 00C00000",
// "page 00013000"; empty when it is not present.
std::string entry_target_text(const PageWalk &walk, int step);

// The outcome in one sentence, e.g.
//   "Linear 00800000 is physical 00013000 (4 KiB page at 00013000)"
//   "Linear 00801000 is not mapped: the page table entry 1 (PTE at 00012004) is not present"
//   "Paging is off (CR0.PG clear): linear 00801000 is physical 00801000"
std::string walk_outcome_text(const PageWalk &walk);

// What a dump window of linear memory shows of its first byte:
// "physical 00013000", "not mapped (PTE not present)", "paging off", ...
std::string first_byte_note(const PageWalk &walk);

// For the memory search: the levels of the tables, top down, as the walk
// reads them. `shift`: the linear bits an entry of that level covers
// (22 and 12, or 30, 21 and 12 with PAE); `entries` of `entry_size` bytes.
struct PagingLevel {
  WalkLevel level;
  unsigned shift;
  unsigned entries;
  unsigned entry_size;
};
int paging_levels(bool pae, PagingLevel levels[3]);

// For an entry of a level that is present: does it map a page (rather than
// point to a table), and the physical address it gives (the page's base or
// the next table's), 64 bits. Entries beyond 4 GiB cannot be read through
// the debugger (addresses of 32 bits).
bool entry_maps_page(uint64_t entry, WalkLevel level, bool pae, bool pse);
uint64_t entry_address(uint64_t entry, WalkLevel level, bool pae, bool large_page);
// The physical address of the top-level table from CR3.
uint64_t top_table_address(uint32_t cr3, bool pae);
