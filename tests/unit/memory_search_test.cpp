// The memory search's rules: what may be typed, the matching of memory fed
// chunk by chunk, and the plan of reads over a physical or a linear range,
// driven here against a small debugger of its own that answers each read
// as the simulated PC does (its dump text, its error lines).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "text/memory_search.hpp"
#include "text/page_walk.hpp"

namespace {

SearchPattern pattern_of(const char *typed, SearchKind kind, bool fold = false) {
  SearchPattern p;
  char message[address_message_size];
  EXPECT_TRUE(parse_search_pattern(typed, kind, fold, &p, message)) << message;
  return p;
}

// A debugger that answers dumps of its memory with the simulated PC's text.
struct Debugger {
  std::vector<uint8_t> memory;
  uint32_t cr0 = 0, cr3 = 0, cr4 = 0;
  std::set<uint32_t> gone;  // linear pages it says are not present, whatever the tables say

  explicit Debugger(size_t size) : memory(size, 0) {}
  void put32(uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) memory[at + i] = (uint8_t)(v >> (8 * i));
  }
  void put64(uint32_t at, uint64_t v) {
    put32(at, (uint32_t)v);
    put32(at + 4, (uint32_t)(v >> 32));
  }
  void put(uint32_t at, const char *bytes, size_t n) { memcpy(&memory[at], bytes, n); }

  std::string reply(const ReadRequest &r) const {
    char unit = dump_unit_for(r.address, r.length);
    unsigned size = dump_unit_size(unit);
    std::vector<uint8_t> data(r.length);
    bool paged = !r.physical && (cr0 & cr0_pg);
    char line[128];
    PageWalk w = {};
    for (uint32_t i = 0; i < r.length; i++) {
      uint64_t at = (uint64_t)r.address + i;
      if (paged) {
        uint32_t linear = (uint32_t)at;
        if (i == 0 || (linear & 0xFFF) == 0)
          w = walk_page_tables(linear, cr0, cr3, cr4, [this](uint32_t a, unsigned n, uint64_t *v) {
            if ((uint64_t)a + n > memory.size()) return false;
            *v = 0;
            for (unsigned k = n; k-- > 0;) *v = *v << 8 | memory[a + k];
            return true;
          });
        if (w.outcome != WalkOutcome::mapped || gone.count(linear & ~0xFFFu)) {
          snprintf(line, sizeof line, "Error: reading linear 0x%08x: page not present\n", linear);
          return line;
        }
        at = w.page_base + (linear & (w.page_size - 1));
      }
      if (at >= memory.size()) {
        snprintf(line, sizeof line, "Error: read past the end of memory (0x%08zx): %u bytes at 0x%08x\n", memory.size(),
                 r.length, r.address);
        return line;
      }
      data[i] = memory[at];
    }
    std::string text;
    const unsigned per_line = size == 4 ? 4 : 8;
    for (uint32_t u = 0; u < r.length / size; u++) {
      if (u % per_line == 0) {
        if (u) text += "\n";
        snprintf(line, sizeof line, "0x%08x <bogus+%u>:", r.address + u * size, u * size);
        text += line;
      }
      uint32_t v = 0;
      for (unsigned k = size; k-- > 0;) v = v << 8 | data[u * size + k];
      snprintf(line, sizeof line, size == 4 ? "\t0x%08x" : "\t0x%02x", v);
      text += line;
    }
    if (r.length) text += "\n";
    return text;
  }
};

struct Outcome {
  std::vector<ReadRequest> requests;
  std::vector<uint32_t> hits;
  bool ended = false;  // the plan said it was done within the bound
};

std::string request_text(const ReadRequest &r) {
  char t[64];
  snprintf(t, sizeof t, "%s%s %X+%X", r.table ? "table " : "", r.physical ? "xp" : "x", r.address, r.length);
  return t;
}

Outcome run(const Debugger &d, SearchPlan &plan, const SearchPattern *pattern = nullptr, size_t bound = 100000) {
  Outcome out;
  SearchMatcher matcher(pattern ? *pattern : SearchPattern{{0}, {0xFF}, false});
  std::vector<SearchHit> hits;
  ReadRequest r;
  for (size_t i = 0; i < bound; i++) {
    if (!plan.next(&r)) {
      out.ended = true;
      break;
    }
    out.requests.push_back(r);
    char unit = dump_unit_for(r.address, r.length);
    DumpBytes bytes;
    scan_dump_bytes(d.reply(r), r.address, dump_unit_size(unit), 'x', &bytes);
    plan.took(bytes);
    if (!r.table && pattern) matcher.feed(bytes.address, bytes.bytes.data(), bytes.bytes.size(), &hits, 1000);
  }
  for (const SearchHit &h : hits) out.hits.push_back(h.address);
  return out;
}

// The paging guest's tables (sim/guests/paging.asm) in a 16 MiB memory.
Debugger paging_guest() {
  Debugger d(16 << 20);
  d.cr0 = 0x80000011, d.cr3 = 0x10000, d.cr4 = 0x10;
  d.put32(0x10000, 0x11003);
  d.put32(0x10004, 0xC00083);
  d.put32(0x10008, 0x12003);
  for (uint32_t i = 0; i < 1024; i++) d.put32(0x11000 + 4 * i, i * 0x1000 | 3);
  d.put32(0x12000, 0x13003);
  return d;
}

}  // namespace

TEST(SearchPattern, WhatMayBeTyped) {
  struct Case {
    const char *typed;
    SearchKind kind;
    bool ok;
    const char *bytes;  // pattern_hex, or the message
  } cases[] = {
      {"CD 10", SearchKind::bytes, true, "CD 10"},
      {"cd10", SearchKind::bytes, true, "CD 10"},
      {" 0xCD,0x10 ", SearchKind::bytes, true, "CD 10"},
      {"C? ?? 90", SearchKind::bytes, true, "C? ?? 90"},
      {"?5", SearchKind::bytes, true, "?5"},
      {"", SearchKind::bytes, false, "Type the bytes to find in hexadecimal, such as CD 10"},
      {"CD1", SearchKind::bytes, false, "Type two hexadecimal digits for each byte: \"CD1\""},
      {"CD ZZ", SearchKind::bytes, false, "\"ZZ\" is no byte: type hexadecimal bytes such as CD 10, and ?? for any byte"},
      {"?? ??", SearchKind::bytes, false, "Give at least one hexadecimal digit: wildcards alone match everything"},
      {"600DF00D", SearchKind::value, true, "0D F0 0D 60"},
      {"0x600df00d", SearchKind::value, true, "0D F0 0D 60"},
      {"7", SearchKind::value, true, "07"},
      {"1234", SearchKind::value, true, "34 12"},
      {"0001", SearchKind::value, true, "01 00"},
      {"12345", SearchKind::value, true, "45 23 01 00"},
      {"112233445566778899", SearchKind::value, false, "The value \"112233445566778899\" does not fit in 64 bits"},
      {"1122334455667788", SearchKind::value, true, "88 77 66 55 44 33 22 11"},
      {"0x", SearchKind::value, false, "Type the value in hexadecimal, such as 600DF00D or 0x600df00d"},
      {"12 34", SearchKind::value, false, "\"12 34\" is no value: type hexadecimal, such as 600DF00D or 0x600df00d"},
      {" ", SearchKind::value, false, "Type the value to find in hexadecimal, such as 600DF00D"},
      {"VUM", SearchKind::text, true, "56 55 4D"},
      {" a ", SearchKind::text, true, "20 61 20"},
      {"a\\nb\\0\\\\\\t\\r", SearchKind::text, true, "61 0A 62 00 5C 09 0D"},
      {"\\x41\\xfF", SearchKind::text, true, "41 FF"},
      {"\\x4", SearchKind::text, false, "Use \\n \\r \\t \\0 \\\\ or \\xHH after a backslash"},
      {"\\q", SearchKind::text, false, "Use \\n \\r \\t \\0 \\\\ or \\xHH after a backslash"},
      {"ends\\", SearchKind::text, false, "Use \\n \\r \\t \\0 \\\\ or \\xHH after a backslash"},
      {"", SearchKind::text, false, "Type the text to find"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    SearchPattern p;
    char message[address_message_size];
    bool ok = parse_search_pattern(c.typed, c.kind, false, &p, message);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(ok ? pattern_hex(p) : std::string(message), c.bytes);
  }
}

TEST(SearchPattern, LengthAndCase) {
  SearchPattern p;
  char message[address_message_size];
  EXPECT_TRUE(parse_search_pattern(std::string(256, 'a').c_str(), SearchKind::text, true, &p, message));
  EXPECT_TRUE(p.fold_case);
  EXPECT_FALSE(parse_search_pattern(std::string(257, 'a').c_str(), SearchKind::text, false, &p, message));
  EXPECT_STREQ(message, "Search for at most 256 bytes at a time");
  std::string bytes;
  for (int i = 0; i < 257; i++) bytes += "AB";
  EXPECT_FALSE(parse_search_pattern(bytes.c_str(), SearchKind::bytes, false, &p, message));
  EXPECT_TRUE(parse_search_pattern("41", SearchKind::bytes, true, &p, message));
  EXPECT_FALSE(p.fold_case) << "letter case is a matter of text only";
}

TEST(SearchMatcher, MatchesAcrossChunksOnce) {
  SearchPattern p = pattern_of("NEEDLE", SearchKind::text);
  SearchMatcher m(p);
  std::vector<SearchHit> hits;
  const char *a = "xxxxNEE", *b = "DLExxNEEDLE";
  m.feed(0x1000, (const uint8_t *)a, 7, &hits, 100);
  EXPECT_TRUE(hits.empty());
  m.feed(0x1007, (const uint8_t *)b, 11, &hits, 100);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].address, 0x1004u);
  EXPECT_EQ(hits[1].address, 0x100Cu);
  EXPECT_EQ(hits[0].context_length, 14u) << "from the hit to the end of what was read";
  EXPECT_EQ(std::string((const char *)hits[0].context, 6), "NEEDLE");
  EXPECT_EQ(hits[1].context_length, 6u);
}

TEST(SearchMatcher, AGapBreaksAMatch) {
  SearchMatcher m(pattern_of("ABCD", SearchKind::text));
  std::vector<SearchHit> hits;
  m.feed(0x1000, (const uint8_t *)"xxAB", 4, &hits, 100);
  m.feed(0x2000, (const uint8_t *)"CDxx", 4, &hits, 100);  // a page left out between
  EXPECT_TRUE(hits.empty());
}

TEST(SearchMatcher, WildcardsCaseOverlapsAndTheMost) {
  std::vector<SearchHit> hits;
  SearchMatcher wild(pattern_of("C? ?? 9?", SearchKind::bytes));
  const uint8_t code[] = {0xCD, 0x10, 0x90, 0xC3, 0x00, 0x9F, 0xCD, 0x10, 0x80};
  wild.feed(0, code, sizeof code, &hits, 100);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].address, 0u);
  EXPECT_EQ(hits[1].address, 3u);

  hits.clear();
  SearchMatcher text(pattern_of("vum", SearchKind::text, true));
  text.feed(0x10, (const uint8_t *)"VUM Vum vUm vu", 14, &hits, 100);
  EXPECT_EQ(hits.size(), 3u);

  hits.clear();
  SearchMatcher exact(pattern_of("vum", SearchKind::text, false));
  exact.feed(0x10, (const uint8_t *)"VUM vum", 7, &hits, 100);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].address, 0x14u);

  hits.clear();
  SearchMatcher overlapping(pattern_of("AA", SearchKind::bytes));
  const uint8_t aa[] = {0xAA, 0xAA, 0xAA, 0xAA};
  overlapping.feed(0, aa, 4, &hits, 2);
  EXPECT_EQ(hits.size(), 2u) << "no more hits than asked for";
  overlapping.feed(4, aa, 4, &hits, 100);
  EXPECT_EQ(hits.size(), 2u + 4u) << "the one across the chunks, and three inside";
}

TEST(SearchMatcher, AgreesWithASimpleSearchWhateverTheChunks) {
  std::mt19937 random(12345);
  for (int round = 0; round < 200; round++) {
    std::vector<uint8_t> memory(2000);
    for (uint8_t &b : memory) b = (uint8_t)(random() % 3);  // few letters: many matches
    size_t length = 1 + random() % 5;
    SearchPattern p;
    for (size_t i = 0; i < length; i++) {
      p.bytes.push_back((uint8_t)(random() % 3));
      p.mask.push_back(random() % 4 ? 0xFF : 0x00);
    }
    p.mask[0] = 0xFF;
    std::vector<uint32_t> expected;
    for (size_t i = 0; i + length <= memory.size(); i++) {
      bool match = true;
      for (size_t j = 0; j < length; j++) match = match && (memory[i + j] & p.mask[j]) == (p.bytes[j] & p.mask[j]);
      if (match) expected.push_back(0x5000 + (uint32_t)i);
    }
    SearchMatcher m(p);
    std::vector<SearchHit> hits;
    for (size_t at = 0; at < memory.size();) {
      size_t n = std::min(memory.size() - at, (size_t)(1 + random() % 9));
      m.feed(0x5000 + (uint32_t)at, &memory[at], n, &hits, 1 << 20);
      at += n;
    }
    std::vector<uint32_t> found;
    for (const SearchHit &h : hits) found.push_back(h.address);
    ASSERT_EQ(found, expected) << "round " << round;
  }
}

TEST(SearchPlan, PhysicalRangesInAlignedChunks) {
  Debugger d(1 << 20);
  SearchPlan plan(0, 0xFFFF, false, 0, 0, 0);
  Outcome r = run(d, plan);
  EXPECT_TRUE(r.ended);
  std::vector<std::string> asked;
  for (const ReadRequest &q : r.requests) asked.push_back(request_text(q));
  EXPECT_EQ(asked, (std::vector<std::string>{"xp 0+4000", "xp 4000+4000", "xp 8000+4000", "xp C000+4000"}));
  EXPECT_EQ(plan.done(), plan.total());
  EXPECT_EQ(plan.total(), 0x10000u);
  EXPECT_EQ(plan.bytes_read(), 0x10000u);

  SearchPlan odd(0x7C01, 0x8010, false, 0, 0, 0, 4096);
  r = run(d, odd);
  asked.clear();
  for (const ReadRequest &q : r.requests) asked.push_back(request_text(q));
  EXPECT_EQ(asked, (std::vector<std::string>{"xp 7C01+3FF", "xp 8000+11"}));

  SearchPlan one(0xFFFFF, 0xFFFFF, false, 0, 0, 0);
  r = run(d, one);
  ASSERT_EQ(r.requests.size(), 1u);
  EXPECT_EQ(request_text(r.requests[0]), "xp FFFFF+1");

  SearchPlan none(0x10, 0x0F, false, 0, 0, 0);
  r = run(d, none);
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(r.requests.empty());
  EXPECT_EQ(none.total(), 0u);
}

TEST(SearchPlan, PhysicalMemoryEnds) {
  Debugger d(0x20000);
  SearchPlan plan(0, 0xFFFFFFFF, false, 0, 0, 0);
  Outcome r = run(d, plan);
  EXPECT_TRUE(r.ended);
  ASSERT_EQ(r.requests.size(), 10u) << "8 chunks, then 16 KiB and 4 KiB past the end";
  EXPECT_EQ(request_text(r.requests[8]), "xp 20000+4000");
  EXPECT_EQ(request_text(r.requests[9]), "xp 20000+1000");
  EXPECT_EQ(plan.stop_note(), "Memory ends before 00020000");
  EXPECT_EQ(plan.done(), 0x20000u);
  EXPECT_EQ(plan.bytes_read(), 0x20000u);
}

TEST(SearchPlan, AMatchAcrossTwoReadsIsFoundOnce) {
  Debugger d(1 << 20);
  d.put(0x3FFE, "NEEDLE", 6);
  d.put(0x9000, "NEEDLE", 6);
  SearchPattern p = pattern_of("NEEDLE", SearchKind::text);
  SearchPlan plan(0, 0xFFFFF, false, 0, 0, 0);
  Outcome r = run(d, plan, &p);
  EXPECT_EQ(r.hits, (std::vector<uint32_t>{0x3FFE, 0x9000}));
  SearchPlan cut(0, 0x9004, false, 0, 0, 0);
  r = run(d, cut, &p);
  EXPECT_EQ(r.hits, (std::vector<uint32_t>{0x3FFE})) << "a match must end inside the range";
}

TEST(SearchPlan, LinearWithPagingReadsOnlyTheMappedPages) {
  Debugger d = paging_guest();
  d.put32(0x7CC6, 0x600DF00D);   // the instruction's immediate
  d.put32(0x13000, 0x600DF00D);  // linear 00013000 and 00800000
  d.put32(0xC00000, 0x600DF00D); // linear 00400000
  SearchPattern p = pattern_of("600DF00D", SearchKind::value);
  SearchPlan plan(0, 0xFFFFFFFF, true, d.cr0, d.cr3, d.cr4);
  Outcome r = run(d, plan, &p);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(plan.stop_note(), "");
  EXPECT_EQ(r.hits, (std::vector<uint32_t>{0x7CC6, 0x13000, 0x400000, 0x800000}));
  // The directory, the two tables, 4 MiB of the identity table and of the
  // large page in 16 KiB reads, and the moved page.
  ASSERT_EQ(r.requests.size(), 1u + 1u + 256u + 256u + 1u + 1u);
  EXPECT_EQ(request_text(r.requests[0]), "table xp 10000+1000");
  EXPECT_EQ(request_text(r.requests[1]), "table xp 11000+1000");
  EXPECT_EQ(request_text(r.requests[2]), "x 0+4000");
  EXPECT_EQ(request_text(r.requests[258]), "x 400000+4000");
  EXPECT_EQ(request_text(r.requests[514]), "table xp 12000+1000");
  EXPECT_EQ(request_text(r.requests[515]), "x 800000+1000");
  EXPECT_EQ(plan.done(), plan.total());
  EXPECT_EQ(plan.bytes_read(), 0x801000u);
  EXPECT_EQ(plan.pages_skipped(), 0u);
}

TEST(SearchPlan, ARangeInsideOnePage) {
  Debugger d = paging_guest();
  SearchPlan plan(0x00800010, 0x0080001F, true, d.cr0, d.cr3, d.cr4);
  Outcome r = run(d, plan);
  std::vector<std::string> asked;
  for (const ReadRequest &q : r.requests) asked.push_back(request_text(q));
  EXPECT_EQ(asked, (std::vector<std::string>{"table xp 10000+1000", "table xp 12000+1000", "x 800010+10"}));
  SearchPlan gap(0x00801000, 0x00BFFFFF, true, d.cr0, d.cr3, d.cr4);
  r = run(d, gap);
  EXPECT_EQ(r.requests.size(), 2u) << "the directory and the table: nothing there is mapped";
  EXPECT_EQ(gap.done(), gap.total());
}

TEST(SearchPlan, APageTheDebuggerCannotReadIsLeftOut) {
  Debugger d = paging_guest();
  d.gone.insert(0x5000);
  d.put(0x4FFE, "AB", 2);
  d.put(0x6000, "AB", 2);
  SearchPattern p = pattern_of("AB", SearchKind::text);
  SearchPlan plan(0x4000, 0x7FFF, true, d.cr0, d.cr3, d.cr4);
  Outcome r = run(d, plan, &p);
  std::vector<std::string> asked;
  for (const ReadRequest &q : r.requests) asked.push_back(request_text(q));
  EXPECT_EQ(asked, (std::vector<std::string>{"table xp 10000+1000", "table xp 11000+1000", "x 4000+4000", "x 4000+1000",
                                             "x 6000+2000"}));
  EXPECT_EQ(plan.pages_skipped(), 1u);
  EXPECT_EQ(r.hits, (std::vector<uint32_t>{0x4FFE, 0x6000}));
  EXPECT_EQ(plan.done(), plan.total());
}

TEST(SearchPlan, LinearWithPagingOffIsPhysicalMemoryThroughX) {
  Debugger d(1 << 20);
  SearchPlan plan(0, 0x7FFF, true, 0x00000011, 0, 0);
  Outcome r = run(d, plan);
  std::vector<std::string> asked;
  for (const ReadRequest &q : r.requests) asked.push_back(request_text(q));
  EXPECT_EQ(asked, (std::vector<std::string>{"x 0+4000", "x 4000+4000"}));
}

TEST(SearchPlan, PaeTables) {
  Debugger d(4 << 20);
  d.cr0 = 0x80000011, d.cr3 = 0x20000, d.cr4 = 0x20;
  d.put64(0x20000, 0x21001);
  d.put64(0x20018, 0x100000001ull);  // 3 to 4 GiB: a directory above 4 GiB
  d.put64(0x21000, 0x22003);         // 0 to 2 MiB: a table
  d.put64(0x21008, 0x0000E3);        // 2 to 4 MiB: a 2 MiB page at physical 0
  d.put64(0x22000 + 8 * 5, 0x55003); // linear 5000 -> 55000
  d.put(0x55010, "PAE!", 4);
  SearchPattern p = pattern_of("PAE!", SearchKind::text);
  SearchPlan plan(0, 0xFFFFFFFF, true, d.cr0, d.cr3, d.cr4);
  Outcome r = run(d, plan, &p);
  EXPECT_TRUE(r.ended);
  // Linear 5010, and physical 55010 again through the 2 MiB page at 200000.
  EXPECT_EQ(r.hits, (std::vector<uint32_t>{0x5010, 0x255010}));
  EXPECT_EQ(request_text(r.requests[0]), "table xp 20000+20");
  EXPECT_EQ(request_text(r.requests[1]), "table xp 21000+1000");
  EXPECT_EQ(request_text(r.requests[2]), "table xp 22000+1000");
  EXPECT_EQ(request_text(r.requests[3]), "x 5000+1000");
  EXPECT_EQ(plan.pages_skipped(), 1u << 18) << "the gigabyte behind the directory above 4 GiB";
  EXPECT_EQ(plan.done(), plan.total());
}

TEST(SearchPlan, ADirectoryThatCannotBeReadEndsTheSearch) {
  Debugger d = paging_guest();
  d.cr3 = 0x2000000;  // beyond the 16 MiB
  SearchPlan plan(0, 0xFFFFFFFF, true, d.cr0, d.cr3, d.cr4);
  Outcome r = run(d, plan);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.requests.size(), 1u);
  EXPECT_EQ(plan.stop_note(),
            "The page directory at 02000000 could not be read: "
            "Error: read past the end of memory (0x01000000): 4096 bytes at 0x02000000");
}

TEST(SearchPlan, ATableThatCannotBeReadLeavesItsPagesOut) {
  Debugger d = paging_guest();
  d.put32(0x1000C, 0x2000003);  // 12 to 16 MiB: a table beyond memory
  SearchPlan plan(0x00C00000, 0x00FFFFFF, true, d.cr0, d.cr3, d.cr4);
  Outcome r = run(d, plan);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.requests.size(), 2u);
  EXPECT_EQ(plan.stop_note(), "");
  EXPECT_EQ(plan.pages_skipped(), 1024u);
  EXPECT_EQ(plan.done(), plan.total());
}

TEST(SearchPlan, AnUnexpectedReplyEndsTheSearch) {
  SearchPlan plan(0, 0xFFFF, false, 0, 0, 0);
  ReadRequest r;
  ASSERT_TRUE(plan.next(&r));
  DumpBytes reply;
  scan_dump_bytes("Error: usage: xp /NUF ADDR\n", r.address, 4, 'x', &reply);
  plan.took(reply);
  EXPECT_FALSE(plan.next(&r));
  EXPECT_EQ(plan.stop_note(), "Reading 00000000 failed: Error: usage: xp /NUF ADDR");
  EXPECT_EQ(plan.done(), 0u);
}
