// The rules of the memory search, apart from the debugger and the window:
// what may be typed as the thing to find, the matching of memory read chunk
// by chunk (a match may span two chunks), and the plan of what to read for a
// physical or a linear range (with paging on, only the pages the tables map
// are read, and the tables tell which those are).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/address.hpp"
#include "text/dump_bytes.hpp"
#include "text/page_walk.hpp"

enum class SearchKind {
  bytes,  // hexadecimal bytes in memory order, "CD 10", "cd10"; "??" any byte, "?" any digit
  value,  // a hexadecimal number as memory holds it (little-endian): 1, 2, 4 or 8 bytes
          // by its digits ("600DF00D" is 0D F0 0D 60)
  text,   // the characters typed; \n \r \t \0 \\ and \xHH stand for their bytes
};

// The longest pattern, in bytes.
const size_t search_pattern_most = 256;

struct SearchPattern {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> mask;  // the bits of each byte that must match
  bool fold_case = false;     // letters match in either case (text)
};

// Reads what was typed; false with the one message for a refusal.
bool parse_search_pattern(const char *typed, SearchKind kind, bool fold_case, SearchPattern *out,
                          char message[address_message_size]);

// The pattern as hexadecimal bytes ("0D F0 0D 60", "CD ?? 9?"), for the page's note.
std::string pattern_hex(const SearchPattern &pattern);

// The first bytes from a hit on, for its row.
const unsigned hit_context_size = 16;

struct SearchHit {
  uint32_t address;
  uint8_t context[hit_context_size];
  unsigned context_length;  // as many bytes as were read from the hit on, within the range
};

// Finds the pattern in memory fed in address order. A chunk that follows on
// from the one before (its address is where the last one ended) is searched
// together with the last pattern-length-less-one bytes of that one, so a
// match that spans both is found, once.
class SearchMatcher {
 public:
  explicit SearchMatcher(const SearchPattern &pattern);
  // Appends to *hits every match that begins in the bytes fed (or in the
  // carried tail) and ends in them, until *hits holds `most` hits.
  void feed(uint32_t address, const uint8_t *data, size_t length, std::vector<SearchHit> *hits, size_t most);

 private:
  bool matches_at(const uint8_t *at) const;

  SearchPattern pattern_;
  std::vector<uint8_t> tail_;  // the last bytes fed, fewer than the pattern
  uint64_t tail_end_ = 0;      // the address after them
  bool have_tail_ = false;
};

// One read of the search: a dump of `length` bytes at `address`, of
// physical memory (`xp`) or linear memory (`x`).
struct ReadRequest {
  uint32_t address;
  uint32_t length;
  bool physical;
  bool table;  // a page table (or directory) the plan reads to learn the mapping
};

// What to read for a range [first, last], in order. The caller sends each
// request, scans the reply with scan_dump_bytes and hands it back with
// took(); the bytes of a request that is not a table are memory to search
// (those read before an error, too).
class SearchPlan {
 public:
  // `linear`: the range is of linear addresses; with CR0.PG set, the page
  // tables (from CR3, with CR4.PSE and CR4.PAE as given) say which pages to
  // read. `chunk`: the most bytes of memory one request reads.
  SearchPlan(uint32_t first, uint32_t last, bool linear, uint32_t cr0, uint32_t cr3, uint32_t cr4,
             uint32_t chunk = 16384);

  // The next request; false when the range is done (or the search cannot go on).
  bool next(ReadRequest *request);
  void took(const DumpBytes &reply);

  // Bytes of the range behind the plan (read, or known to be unmapped), and
  // the range's size, for the progress bar.
  uint64_t done() const { return pos_ - first_; }
  uint64_t total() const { return end_ - first_; }
  uint64_t bytes_read() const { return bytes_read_; }
  uint32_t pages_skipped() const { return pages_skipped_; }

  // Why the search ended before the range did (empty when it did not).
  const std::string &stop_note() const { return stop_note_; }

 private:
  struct Level {
    WalkLevel level;
    unsigned shift, entries, entry_size;
    bool loaded;
    uint64_t address;              // of the table loaded
    std::vector<uint64_t> entry;   // its entries
  };
  bool next_mapped(ReadRequest *request);
  void skip_to(uint64_t address);
  void stop(const std::string &why);
  uint64_t region_end(uint64_t at, unsigned shift) const;

  uint64_t first_, pos_, end_;
  bool linear_, paged_, pae_, pse_;
  uint32_t cr3_;
  uint32_t chunk_, chunk_now_;
  std::vector<Level> levels_;
  ReadRequest last_ = {};
  int last_level_ = -1;  // the level of the table last asked for
  bool asked_ = false;
  uint64_t read_end_ = 0;  // a request ends here at the latest: where the last error named
  uint64_t bytes_read_ = 0;
  uint32_t pages_skipped_ = 0;
  std::string stop_note_;
};
