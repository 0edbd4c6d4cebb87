// The walk of the page tables over a memory of known entries: the paging
// guest's tables (4 KiB pages, a 4 MiB page, an entry not present), PAE
// tables, tables that cannot be read, and the texts the page shows.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "text/page_walk.hpp"

namespace {

// Physical memory of 64-bit cells at 4-byte addresses; unset reads as 0.
struct Memory {
  std::map<uint32_t, uint32_t> dwords;
  uint32_t unreadable_from = 0xFFFFFFFF;  // reads at or above fail
  int reads = 0;

  void put(uint32_t address, uint64_t value, unsigned size = 4) {
    dwords[address] = (uint32_t)value;
    if (size == 8) dwords[address + 4] = (uint32_t)(value >> 32);
  }
  PhysicalReader reader() {
    return [this](uint32_t address, unsigned size, uint64_t *value) {
      reads++;
      if (address >= unreadable_from) return false;
      uint64_t v = dwords.count(address) ? dwords[address] : 0;
      if (size == 8) v |= (uint64_t)(dwords.count(address + 4) ? dwords[address + 4] : 0) << 32;
      *value = v;
      return true;
    };
  }
};

// The paging guest of the simulated PC (sim/guests/paging.asm).
Memory paging_guest() {
  Memory m;
  m.put(0x10000, 0x11003);   // 0 to 4 MiB: the identity table
  m.put(0x10004, 0xC00083);  // 4 to 8 MiB: one 4 MiB page at C00000
  m.put(0x10008, 0x12003);   // 8 to 12 MiB: a table
  for (uint32_t i = 0; i < 1024; i++) m.put(0x11000 + 4 * i, i * 0x1000 | 3);
  m.put(0x12000, 0x13003);   // 800000 -> 13000; 801000 not present
  return m;
}

const uint32_t cr0_paged = 0x80000011, cr4_pse_on = 0x10;

std::string steps_text(const PageWalk &w) {
  std::string s;
  char text[120];
  for (int i = 0; i < w.steps; i++) {
    const WalkStep &st = w.step[i];
    snprintf(text, sizeof text, "%s%s %u @%llX=%llX", i ? "; " : "", walk_level_name(st.level), st.index,
             (unsigned long long)st.entry_address, (unsigned long long)st.entry);
    s += text;
    if (!st.read) s += " unread";
  }
  return s;
}

}  // namespace

TEST(PageWalk, ThePagingGuestsAddresses) {
  struct Case {
    const char *what;
    uint32_t linear, cr4;
    WalkOutcome outcome;
    const char *steps;
    uint64_t physical;
    uint32_t page_size;
    const char *sentence;
    const char *note;
  } cases[] = {
      {"identity, low memory", 0x00000500, cr4_pse_on, WalkOutcome::mapped, "PDE 0 @10000=11003; PTE 0 @11000=3", 0x500, 4096,
       "Linear 00000500 is physical 00000500 (4 KiB page at 00000000)", "physical 00000500"},
      {"the moved page", 0x00800000, cr4_pse_on, WalkOutcome::mapped, "PDE 2 @10008=12003; PTE 0 @12000=13003", 0x13000,
       4096, "Linear 00800000 is physical 00013000 (4 KiB page at 00013000)", "physical 00013000"},
      {"inside the moved page", 0x00800FFF, cr4_pse_on, WalkOutcome::mapped, "PDE 2 @10008=12003; PTE 0 @12000=13003",
       0x13FFF, 4096, "Linear 00800FFF is physical 00013FFF (4 KiB page at 00013000)", "physical 00013FFF"},
      {"the 4 MiB page", 0x00401234, cr4_pse_on, WalkOutcome::mapped, "PDE 1 @10004=C00083", 0xC01234, 4u << 20,
       "Linear 00401234 is physical 00C01234 (4 MiB page at 00C00000)", "physical 00C01234"},
      {"a table entry not present", 0x00801234, cr4_pse_on, WalkOutcome::not_present,
       "PDE 2 @10008=12003; PTE 1 @12004=0", 0, 0,
       "Linear 00801234 is not mapped: the page table entry 1 (PTE at 00012004) is not present",
       "not mapped (PTE not present)"},
      {"a directory entry not present", 0x00C00000, cr4_pse_on, WalkOutcome::not_present, "PDE 3 @1000C=0", 0, 0,
       "Linear 00C00000 is not mapped: the page directory entry 3 (PDE at 0001000C) is not present",
       "not mapped (PDE not present)"},
      {"the top of the address space", 0xFFFFFFFF, cr4_pse_on, WalkOutcome::not_present, "PDE 1023 @10FFC=0", 0, 0,
       "Linear FFFFFFFF is not mapped: the page directory entry 1023 (PDE at 00010FFC) is not present",
       "not mapped (PDE not present)"},
      {"without CR4.PSE the PS bit is not followed", 0x00400000, 0, WalkOutcome::not_present,
       "PDE 1 @10004=C00083; PTE 0 @C00000=0", 0, 0,
       "Linear 00400000 is not mapped: the page table entry 0 (PTE at 00C00000) is not present",
       "not mapped (PTE not present)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Memory m = paging_guest();
    PageWalk w = walk_page_tables(c.linear, cr0_paged, 0x10000, c.cr4, m.reader());
    EXPECT_EQ(w.outcome, c.outcome);
    EXPECT_EQ(steps_text(w), c.steps);
    EXPECT_EQ(w.physical, c.physical);
    EXPECT_EQ(w.page_size, c.page_size);
    EXPECT_EQ(walk_outcome_text(w), c.sentence);
    EXPECT_EQ(first_byte_note(w), c.note);
    EXPECT_EQ(m.reads, w.steps) << "one read per step";
  }
}

TEST(PageWalk, PagingOffReadsNothing) {
  Memory m = paging_guest();
  PageWalk w = walk_page_tables(0x00801000, 0x00000011, 0x10000, cr4_pse_on, m.reader());
  EXPECT_EQ(w.outcome, WalkOutcome::paging_off);
  EXPECT_EQ(w.physical, 0x801000u);
  EXPECT_EQ(w.steps, 0);
  EXPECT_EQ(m.reads, 0);
  EXPECT_EQ(walk_outcome_text(w), "Paging is off (CR0.PG clear): linear 00801000 is physical 00801000");
  EXPECT_EQ(first_byte_note(w), "physical 00801000 (paging off)");
}

TEST(PageWalk, CR3sLowBitsAreNoPartOfTheAddress) {
  Memory m = paging_guest();
  PageWalk w = walk_page_tables(0x00800000, cr0_paged, 0x10018, cr4_pse_on, m.reader());  // PWT, PCD
  EXPECT_EQ(w.outcome, WalkOutcome::mapped);
  EXPECT_EQ(w.step[0].entry_address, 0x10008u);
}

TEST(PageWalk, AnEntryThatCannotBeRead) {
  Memory m = paging_guest();
  m.unreadable_from = 0x12000;
  PageWalk w = walk_page_tables(0x00800000, cr0_paged, 0x10000, cr4_pse_on, m.reader());
  EXPECT_EQ(w.outcome, WalkOutcome::unreadable);
  EXPECT_EQ(steps_text(w), "PDE 2 @10008=12003; PTE 0 @12000=0 unread");
  EXPECT_EQ(walk_outcome_text(w), "Linear 00800000: the page table entry 0 (PTE at 00012000) could not be read");
  EXPECT_EQ(first_byte_note(w), "physical address unknown (PTE unreadable)");
  m.unreadable_from = 0;
  w = walk_page_tables(0x00800000, cr0_paged, 0x10000, cr4_pse_on, m.reader());
  EXPECT_EQ(walk_outcome_text(w), "Linear 00800000: the page directory entry 2 (PDE at 00010008) could not be read");
}

TEST(PageWalk, Pse36PagesAbove4GiB) {
  Memory m;
  m.put(0x10004, 0x00402083);  // bits 13 to 20 hold physical bits 32 to 39
  PageWalk w = walk_page_tables(0x00400010, cr0_paged, 0x10000, cr4_pse_on, m.reader());
  EXPECT_EQ(w.outcome, WalkOutcome::mapped);
  EXPECT_EQ(w.physical, 0x100400010ull);
  EXPECT_EQ(walk_outcome_text(w), "Linear 00400010 is physical 100400010 (4 MiB page at 100400000)");
}

TEST(PageWalk, Pae) {
  // CR3 20000: PDPT of 4 entries; directory at 21000; table at 22000.
  Memory m;
  m.put(0x20000, 0x21001, 8);                    // 0 to 1 GiB
  m.put(0x20010, 0x100000001ull, 8);             // 2 to 3 GiB: a directory above 4 GiB
  m.put(0x21000, 0x22003, 8);                    // 0 to 2 MiB: a table
  m.put(0x21008, 0x4000E3, 8);                   // 2 to 4 MiB: a 2 MiB page at 400000
  m.put(0x22028, 0x8000000000055023ull, 8);      // 5000: page 55000, accessed, no execute
  const uint32_t cr4_pae_on = 0x20;
  struct Case {
    const char *what;
    uint32_t linear;
    WalkOutcome outcome;
    const char *steps;
    uint64_t physical;
    uint32_t page_size;
    const char *sentence;
  } cases[] = {
      {"a 4 KiB page", 0x5123, WalkOutcome::mapped, "PDPTE 0 @20000=21001; PDE 0 @21000=22003; PTE 5 @22028=8000000000055023",
       0x55123, 4096, "Linear 00005123 is physical 00055123 (4 KiB page at 00055000)"},
      {"a 2 MiB page", 0x00212345, WalkOutcome::mapped, "PDPTE 0 @20000=21001; PDE 1 @21008=4000E3", 0x412345, 2u << 20,
       "Linear 00212345 is physical 00412345 (2 MiB page at 00400000)"},
      {"a directory pointer not present", 0x40000000, WalkOutcome::not_present, "PDPTE 1 @20008=0", 0, 0,
       "Linear 40000000 is not mapped: the page directory pointer table entry 1 (PDPTE at 00020008) is not present"},
      {"a directory above 4 GiB", 0x80000000, WalkOutcome::unreadable, "PDPTE 2 @20010=100000001; PDE 0 @100000000=0 unread",
       0, 0, "Linear 80000000: the page directory entry 0 (PDE at 100000000) lies above 4 GiB, where the debugger does not read"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    PageWalk w = walk_page_tables(c.linear, cr0_paged, 0x20000, cr4_pae_on, m.reader());
    EXPECT_TRUE(w.pae);
    EXPECT_EQ(w.outcome, c.outcome);
    EXPECT_EQ(steps_text(w), c.steps);
    EXPECT_EQ(w.physical, c.physical);
    EXPECT_EQ(w.page_size, c.page_size);
    EXPECT_EQ(walk_outcome_text(w), c.sentence);
  }
}

TEST(PageWalk, FlagsOfEntries) {
  struct Case {
    uint64_t entry;
    WalkLevel level;
    bool pae, large;
    const char *flags;
  } cases[] = {
      {0x00012003, WalkLevel::directory, false, false, "P RW S"},
      {0x00012002, WalkLevel::directory, false, false, "not present"},
      {0x00012065, WalkLevel::directory, false, false, "P RO U A"},  // D is no bit of a directory entry
      {0x00C000E3, WalkLevel::directory, false, true, "P RW S A D PS"},
      {0x00C001FF, WalkLevel::directory, false, true, "P RW U PWT PCD A D PS G"},
      {0x00013163, WalkLevel::table, false, false, "P RW S A D G"},
      {0x000130C1, WalkLevel::table, false, false, "P RO S D PAT"},
      {0x8000000000055023ull, WalkLevel::table, true, false, "P RW S A NX"},
      {0x8000000000055023ull, WalkLevel::table, false, false, "P RW S A"},  // no NX without PAE
      {0x0000000000021019ull, WalkLevel::pdpt, true, false, "P PWT PCD"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(entry_flags_text(c.entry, c.level, c.pae, c.large), c.flags);
  }
}

TEST(PageWalk, WhereEachStepLeads) {
  Memory m = paging_guest();
  PageWalk w = walk_page_tables(0x00800000, cr0_paged, 0x10000, cr4_pse_on, m.reader());
  EXPECT_EQ(entry_target_text(w, 0), "table 00012000");
  EXPECT_EQ(entry_target_text(w, 1), "4 KiB page 00013000");
  EXPECT_EQ(entry_target_text(w, 2), "");
  w = walk_page_tables(0x00400000, cr0_paged, 0x10000, cr4_pse_on, m.reader());
  EXPECT_EQ(entry_target_text(w, 0), "4 MiB page 00C00000");
  w = walk_page_tables(0x00801000, cr0_paged, 0x10000, cr4_pse_on, m.reader());
  EXPECT_EQ(entry_target_text(w, 0), "table 00012000");
  EXPECT_EQ(entry_target_text(w, 1), "") << "an entry not present leads nowhere";
}

TEST(PageWalk, LevelsAndEntryAddresses) {
  PagingLevel l[3];
  ASSERT_EQ(paging_levels(false, l), 2);
  EXPECT_EQ(l[0].shift, 22u);
  EXPECT_EQ(l[1].entries, 1024u);
  ASSERT_EQ(paging_levels(true, l), 3);
  EXPECT_EQ(l[0].entries, 4u);
  EXPECT_EQ(l[1].shift, 21u);
  EXPECT_EQ(l[2].entry_size, 8u);
  EXPECT_TRUE(entry_maps_page(0x83, WalkLevel::directory, false, true));
  EXPECT_FALSE(entry_maps_page(0x83, WalkLevel::directory, false, false));
  EXPECT_TRUE(entry_maps_page(0x83, WalkLevel::directory, true, false)) << "PAE always has 2 MiB pages";
  EXPECT_FALSE(entry_maps_page(0x83, WalkLevel::pdpt, true, true));
  EXPECT_EQ(entry_address(0xFFFFFFFF, WalkLevel::table, false, false), 0xFFFFF000u);
  EXPECT_EQ(entry_address(0xFFFFFFFFFFFFFFFFull, WalkLevel::table, true, false), 0x000FFFFFFFFFF000ull);
  EXPECT_EQ(entry_address(0xFFFFFFFFFFFFFFFFull, WalkLevel::directory, true, true), 0x000FFFFFFFE00000ull);
  EXPECT_EQ(top_table_address(0x12345FFF, false), 0x12345000u);
  EXPECT_EQ(top_table_address(0x12345FFF, true), 0x12345FE0u);
}
