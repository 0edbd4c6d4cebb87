// The scanners a dump reply goes through, line by line, timed alone (no
// pipe, no list): what each line of a dump costs VUM before the list gets
// it. The Characters column is read both ways: straight through, as a dump
// of hexadecimal bytes is, and value by value, as any other format is.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/dump_bytes.hpp"
#include "text/dump_scan.hpp"

namespace {

// A reply of `lines` lines of eight hexadecimal bytes, as the debugger
// writes a dump of bytes.
std::string dump_reply(int lines) {
  std::string text;
  for (int r = 0; r < lines; r++) {
    char head[48];
    snprintf(head, sizeof head, "0x%08x <bogus+%d>:", 0x100000 + r * 8, r * 8);
    text += head;
    for (int i = 0; i < 8; i++) {
      char value[8];
      snprintf(value, sizeof value, "\t0x%02x", (unsigned)(((r * 8 + i) * 37 + r / 31) & 0xff));
      text += value;
    }
    text += '\n';
  }
  return text;
}

// Its rows, each with the eight values it should have.
std::vector<DumpRow> scanned(int lines) {
  std::vector<DumpRow> rows;
  scan_dump_reply(dump_reply(lines), &rows);
  for (const DumpRow &row : rows)
    if (value_characters_by_format(row.values, 'x', 8).size() != 8) {
      fprintf(stderr, "scan_bench: a line did not scan: \"%s\"\n", row.values.c_str());
      exit(1);
    }
  return rows;
}

const int lines_of_64_kib = 8192;

void ScanDumpReply(benchmark::State &state) {
  const std::string text = dump_reply(lines_of_64_kib);
  std::vector<DumpRow> rows;
  for (auto _ : state) {
    rows.clear();
    scan_dump_reply(text, &rows);
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetItemsProcessed(state.iterations() * lines_of_64_kib);
}
BENCHMARK(ScanDumpReply);

// The Characters column of every line, read by `reader`.
void Characters(benchmark::State &state, std::string (*reader)(const std::string &, char, size_t)) {
  const std::vector<DumpRow> rows = scanned(lines_of_64_kib);
  for (auto _ : state)
    for (const DumpRow &row : rows) benchmark::DoNotOptimize(reader(row.values, 'x', 8));
  state.SetItemsProcessed(state.iterations() * (int64_t)rows.size());
}
BENCHMARK_CAPTURE(Characters, OfHexBytes, value_characters);
BENCHMARK_CAPTURE(Characters, ValueByValue, value_characters_by_format);

}  // namespace

BENCHMARK_MAIN();
