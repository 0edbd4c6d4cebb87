// Feeds arbitrary bytes to the memory search: a typed pattern, memory fed in
// chunks of any size to the matcher (compared with a plain search), and the
// plan of reads over a range, answered from a small memory whose page
// tables are the input's, with replies cut short or refused as the input
// says. The plan must end, and never ask for nothing or outside the range.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "text/memory_search.hpp"
#include "text/page_walk.hpp"

namespace {

struct Input {
  const uint8_t *data;
  size_t size, at = 0;
  uint8_t byte() { return at < size ? data[at++] : 0; }
  uint32_t word() { return (uint32_t)byte() | (uint32_t)byte() << 8 | (uint32_t)byte() << 16 | (uint32_t)byte() << 24; }
};

bool matches(const SearchPattern &p, const uint8_t *at) {
  for (size_t j = 0; j < p.bytes.size(); j++) {
    uint8_t b = at[j], q = p.bytes[j];
    if (p.fold_case) {
      if (b >= 'A' && b <= 'Z') b += 32;
      if (q >= 'A' && q <= 'Z') q += 32;
    }
    if ((b & p.mask[j]) != (q & p.mask[j])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in{data, size};
  // The pattern: its kind, its length, its text.
  SearchKind kind = (SearchKind)(in.byte() % 3);
  bool fold = in.byte() & 1;
  size_t typed_length = in.byte() % 64;
  std::string typed;
  while (typed.size() < typed_length && in.at < size) typed += (char)in.byte();
  SearchPattern pattern;
  char message[address_message_size];
  if (parse_search_pattern(typed.c_str(), kind, fold, &pattern, message)) {
    if (pattern.bytes.empty() || pattern.bytes.size() > search_pattern_most) __builtin_trap();
    if (pattern.bytes.size() != pattern.mask.size()) __builtin_trap();
    if (message[0] != '\0') __builtin_trap();
    // The rest of the input as memory, fed in chunks whose sizes it gives.
    std::vector<uint8_t> memory(data + in.at, data + size);
    SearchMatcher matcher(pattern);
    std::vector<SearchHit> hits;
    for (size_t at = 0, step = 1; at < memory.size(); at += step) {
      step = 1 + memory[at] % 7;
      if (step > memory.size() - at) step = memory.size() - at;
      matcher.feed(0x1000 + (uint32_t)at, &memory[at], step, &hits, 100000);
    }
    size_t expected = 0;
    for (size_t i = 0; i + pattern.bytes.size() <= memory.size(); i++) {
      if (!matches(pattern, &memory[i])) continue;
      if (expected >= hits.size() || hits[expected].address != 0x1000 + i) __builtin_trap();
      expected++;
    }
    if (expected != hits.size()) __builtin_trap();
  } else if (message[0] == '\0') {
    __builtin_trap();
  }

  // The plan, over tables from the input: 64 KiB of memory, its first 4 KiB
  // from the input (directories and tables point into it or beyond it).
  in.at = 0;
  std::vector<uint8_t> memory(1 << 16, 0);
  for (size_t i = 0; i < size && i < 4096; i++) memory[i] = data[i];
  uint32_t cr3 = in.word() & 0xF000;
  uint32_t cr4 = in.byte() & 0x30;
  bool linear = in.byte() & 1;
  // Ranges of up to 1 MiB, anywhere: a few hundred reads at most.
  uint32_t first = in.word(), span = in.word() % (1u << 20);
  uint32_t last = first > 0xFFFFFFFFu - span ? 0xFFFFFFFFu : first + span;
  uint8_t faults = in.byte();
  SearchPlan plan(first, last, linear, 0x80000011, cr3, cr4, 4096);
  ReadRequest r;
  for (int i = 0;; i++) {
    if (i > 20000) __builtin_trap();  // the plan must end
    if (!plan.next(&r)) break;
    if (r.length == 0) __builtin_trap();
    if (plan.done() > plan.total()) __builtin_trap();
    if (!r.table && ((uint64_t)r.address < first || (uint64_t)r.address + r.length - 1 > last)) __builtin_trap();
    // The answer: the memory, or an error of the kind the input picks.
    DumpBytes reply;
    reply.address = r.address;
    reply.error = DumpError::none;
    reply.fault_address = 0;
    uint8_t how = (uint8_t)(faults + i) % 8;
    uint64_t end = (uint64_t)r.address + r.length;
    if (r.physical && end > memory.size()) {
      reply.error = DumpError::past_end;
      reply.error_text = "Error: read past the end of memory";
    } else if (!r.table && how == 0) {
      reply.error = DumpError::page_not_present;
      reply.fault_address = r.address + (uint32_t)(faults % r.length);
      reply.error_text = "Error: reading linear: page not present";
      for (uint32_t k = 0; k < reply.fault_address - r.address && k < 64; k++) reply.bytes.push_back(0);
    } else if (how == 1) {
      reply.error = DumpError::other;
      reply.error_text = "Error: something else";
    } else {
      for (uint32_t k = 0; k < r.length; k++)
        reply.bytes.push_back(r.physical ? memory[r.address + k] : memory[(r.address + k) & 0xFFFF]);
    }
    plan.took(reply);
  }
  if (plan.stop_note().empty() && plan.done() != plan.total()) __builtin_trap();
  return 0;
}
