#include "text/page_walk.hpp"

#include <cinttypes>
#include <cstdio>

namespace {

const uint64_t pae_address_mask = 0x000FFFFFFFFFF000ull;  // bits 12 to 51

const char *size_words(uint32_t size) {
  return size == (4u << 20) ? "4 MiB" : size == (2u << 20) ? "2 MiB" : "4 KiB";
}

bool large_at(const PageWalk &walk, int step) {
  return step == walk.steps - 1 && walk.outcome == WalkOutcome::mapped && walk.step[step].level == WalkLevel::directory;
}

}  // namespace

int paging_levels(bool pae, PagingLevel levels[3]) {
  if (pae) {
    levels[0] = {WalkLevel::pdpt, 30, 4, 8};
    levels[1] = {WalkLevel::directory, 21, 512, 8};
    levels[2] = {WalkLevel::table, 12, 512, 8};
    return 3;
  }
  levels[0] = {WalkLevel::directory, 22, 1024, 4};
  levels[1] = {WalkLevel::table, 12, 1024, 4};
  return 2;
}

bool entry_maps_page(uint64_t entry, WalkLevel level, bool pae, bool pse) {
  switch (level) {
    case WalkLevel::table: return true;
    case WalkLevel::directory: return (entry & 0x80) != 0 && (pae || pse);
    default: return false;
  }
}

uint64_t entry_address(uint64_t entry, WalkLevel level, bool pae, bool large_page) {
  if (pae) return large_page && level == WalkLevel::directory ? entry & 0x000FFFFFFFE00000ull : entry & pae_address_mask;
  if (large_page && level == WalkLevel::directory)
    return (entry & 0xFFC00000ull) | ((entry >> 13) & 0xFFull) << 32;  // PSE-36: bits 32 to 39
  return entry & 0xFFFFF000ull;
}

uint64_t top_table_address(uint32_t cr3, bool pae) { return pae ? cr3 & 0xFFFFFFE0u : cr3 & 0xFFFFF000u; }

PageWalk walk_page_tables(uint32_t linear, uint32_t cr0, uint32_t cr3, uint32_t cr4, const PhysicalReader &read) {
  PageWalk walk = {};
  walk.linear = linear;
  if ((cr0 & cr0_pg) == 0) {
    walk.outcome = WalkOutcome::paging_off;
    walk.physical = linear;
    return walk;
  }
  walk.pae = (cr4 & cr4_pae) != 0;
  const bool pse = (cr4 & cr4_pse) != 0;
  PagingLevel levels[3];
  int count = paging_levels(walk.pae, levels);
  uint64_t table = top_table_address(cr3, walk.pae);
  for (int i = 0; i < count; i++) {
    const PagingLevel &l = levels[i];
    WalkStep &s = walk.step[walk.steps++];
    s.level = l.level;
    s.index = (linear >> l.shift) & (l.entries - 1);
    s.entry_address = table + (uint64_t)s.index * l.entry_size;
    if (s.entry_address + l.entry_size - 1 > 0xFFFFFFFFull || !read((uint32_t)s.entry_address, l.entry_size, &s.entry)) {
      walk.outcome = WalkOutcome::unreadable;
      return walk;
    }
    s.read = true;
    if ((s.entry & 1) == 0) {
      walk.outcome = WalkOutcome::not_present;
      return walk;
    }
    bool large = entry_maps_page(s.entry, l.level, walk.pae, pse) && l.level != WalkLevel::table;
    if (l.level == WalkLevel::table || large) {
      uint64_t size = 1ull << l.shift;
      walk.outcome = WalkOutcome::mapped;
      walk.page_size = (uint32_t)size;
      walk.page_base = entry_address(s.entry, l.level, walk.pae, large);
      walk.physical = walk.page_base | (linear & (size - 1));
      return walk;
    }
    table = entry_address(s.entry, l.level, walk.pae, false);
  }
  walk.outcome = WalkOutcome::unreadable;  // not reached: the last level maps a page
  return walk;
}

const char *walk_level_name(WalkLevel level) {
  switch (level) {
    case WalkLevel::pdpt: return "PDPTE";
    case WalkLevel::directory: return "PDE";
    default: return "PTE";
  }
}

const char *walk_level_words(WalkLevel level) {
  switch (level) {
    case WalkLevel::pdpt: return "page directory pointer table entry";
    case WalkLevel::directory: return "page directory entry";
    default: return "page table entry";
  }
}

std::string entry_flags_text(uint64_t entry, WalkLevel level, bool pae, bool large_page) {
  if ((entry & 1) == 0) return "not present";
  std::string s = "P";
  if (level == WalkLevel::pdpt) {
    // A PAE directory pointer has no access rights of its own.
    if (entry & 0x08) s += " PWT";
    if (entry & 0x10) s += " PCD";
    return s;
  }
  bool leaf = level == WalkLevel::table || large_page;
  s += (entry & 0x02) ? " RW" : " RO";
  s += (entry & 0x04) ? " U" : " S";
  if (entry & 0x08) s += " PWT";
  if (entry & 0x10) s += " PCD";
  if (entry & 0x20) s += " A";
  if (leaf && (entry & 0x40)) s += " D";
  if (level == WalkLevel::directory && (entry & 0x80)) s += " PS";
  if (level == WalkLevel::table && (entry & 0x80)) s += " PAT";
  if (leaf && (entry & 0x100)) s += " G";
  if (pae && (entry >> 63)) s += " NX";
  return s;
}

std::string entry_target_text(const PageWalk &walk, int step) {
  if (step < 0 || step >= walk.steps) return "";
  const WalkStep &s = walk.step[step];
  if (!s.read || (s.entry & 1) == 0) return "";
  char text[48];
  bool last_mapped = step == walk.steps - 1 && walk.outcome == WalkOutcome::mapped;
  if (last_mapped) {
    snprintf(text, sizeof text, "%s page %.8" PRIX64, size_words(walk.page_size), walk.page_base);
  } else {
    snprintf(text, sizeof text, "table %.8" PRIX64, entry_address(s.entry, s.level, walk.pae, large_at(walk, step)));
  }
  return text;
}

std::string walk_outcome_text(const PageWalk &walk) {
  char text[200];
  const WalkStep *last = walk.steps > 0 ? &walk.step[walk.steps - 1] : NULL;
  switch (walk.outcome) {
    case WalkOutcome::paging_off:
      snprintf(text, sizeof text, "Paging is off (CR0.PG clear): linear %.8X is physical %.8X", walk.linear, walk.linear);
      break;
    case WalkOutcome::mapped:
      snprintf(text, sizeof text, "Linear %.8X is physical %.8" PRIX64 " (%s page at %.8" PRIX64 ")", walk.linear,
               walk.physical, size_words(walk.page_size), walk.page_base);
      break;
    case WalkOutcome::not_present:
      snprintf(text, sizeof text, "Linear %.8X is not mapped: the %s %u (%s at %.8" PRIX64 ") is not present",
               walk.linear, walk_level_words(last->level), last->index, walk_level_name(last->level),
               last->entry_address);
      break;
    default:
      if (last == NULL)
        snprintf(text, sizeof text, "Linear %.8X: the page tables could not be read", walk.linear);
      else if (last->entry_address > 0xFFFFFFFFull)
        snprintf(text, sizeof text, "Linear %.8X: the %s %u (%s at %.9" PRIX64 ") lies above 4 GiB, where the debugger does not read",
                 walk.linear, walk_level_words(last->level), last->index, walk_level_name(last->level), last->entry_address);
      else
        snprintf(text, sizeof text, "Linear %.8X: the %s %u (%s at %.8" PRIX64 ") could not be read", walk.linear,
                 walk_level_words(last->level), last->index, walk_level_name(last->level), last->entry_address);
      break;
  }
  return text;
}

std::string first_byte_note(const PageWalk &walk) {
  char text[80];
  const WalkStep *last = walk.steps > 0 ? &walk.step[walk.steps - 1] : NULL;
  switch (walk.outcome) {
    case WalkOutcome::paging_off:
      snprintf(text, sizeof text, "physical %.8X (paging off)", walk.linear);
      break;
    case WalkOutcome::mapped:
      snprintf(text, sizeof text, "physical %.8" PRIX64, walk.physical);
      break;
    case WalkOutcome::not_present:
      snprintf(text, sizeof text, "not mapped (%s not present)", walk_level_name(last->level));
      break;
    default:
      snprintf(text, sizeof text, "physical address unknown (%s unreadable)", last ? walk_level_name(last->level) : "CR3");
      break;
  }
  return text;
}
