// Feeds arbitrary bytes to the decoding of descriptor tables and to the
// page walk: descriptors, gates, vectors and TSS fields as the Tables page
// shows them, and walks through a memory the input fills.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "text/descriptor_tables.hpp"
#include "text/page_walk.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  for (size_t i = 0; i < size / 8 && i < 512; i++) {
    Descriptor d = descriptor_at(bytes, i);
    DescriptorRow row;
    format_descriptor_row(i & 1 ? TableKind::ldt : TableKind::gdt, (uint32_t)i * 997, d, &row);
    if (row.type.empty() || row.type.size() > 64) __builtin_trap();
    if (d.granularity && (d.limit & 0xFFF) != 0xFFF) __builtin_trap();
    GateRow gate;
    format_gate_row((uint32_t)i, d, &gate);
    format_vector_row((uint32_t)i, d.low, d.high, &gate);
    SegmentState reg = {(uint32_t)i * 8, d.low, d.high, (uint32_t)(i & 1)};
    SystemSegment ldt = ldt_segment(reg), tss = tss_segment(reg);
    if ((ldt.usable && !ldt.loaded) || (tss.usable && !tss.loaded)) __builtin_trap();
  }
  for (bool wide : {false, true}) {
    uint32_t limit = size ? data[0] : 0;
    std::vector<TssRow> rows = tss_rows(wide, bytes, limit);
    if (rows.size() != tss_fields(wide).size()) __builtin_trap();
  }
  if (size < 12) return 0;
  // A walk through 64 KiB whose start is the input.
  std::vector<uint8_t> memory(1 << 16, 0);
  memcpy(memory.data(), data, size < memory.size() ? size : memory.size());
  uint32_t linear, cr3, cr4;
  memcpy(&linear, data, 4);
  memcpy(&cr3, data + 4, 4);
  memcpy(&cr4, data + 8, 4);
  int reads = 0;
  PageWalk w = walk_page_tables(linear, 0x80000011, cr3 & 0xFFFF, cr4, [&](uint32_t a, unsigned n, uint64_t *v) {
    reads++;
    if ((uint64_t)a + n > memory.size()) return false;
    *v = 0;
    for (unsigned k = n; k-- > 0;) *v = *v << 8 | memory[a + k];
    return true;
  });
  if (w.steps < 1 || w.steps > 3 || reads > w.steps) __builtin_trap();
  if (w.outcome == WalkOutcome::mapped) {
    if (w.page_size != 4096 && w.page_size != (2u << 20) && w.page_size != (4u << 20)) __builtin_trap();
    if (w.physical - w.page_base != (linear & (w.page_size - 1))) __builtin_trap();
  }
  for (int i = 0; i < w.steps; i++) {
    std::string flags = entry_flags_text(w.step[i].entry, w.step[i].level, w.pae, false);
    std::string target = entry_target_text(w, i);
    if (flags.empty() || flags.size() > 64 || target.size() > 48) __builtin_trap();
  }
  if (walk_outcome_text(w).empty() || first_byte_note(w).empty()) __builtin_trap();
  return 0;
}
