// The reply to the disassembly command "u /N 0xADDR", and the rule that
// finds the instructions before an address from replies that start earlier.
//
// A reply is N lines, one per instruction:
//   xxxxxxxx: (SYMBOL              ): TEXT                      ; BYTES
// the linear address in hexadecimal, ": (", the debugger's own symbol field
// (blank unless it knows one), "): ", the instruction text padded with
// blanks, " ; " and the instruction's bytes in hexadecimal. A line that is
// none (an address whose bytes cannot be read) ends the listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DisasmLine {
  uint32_t address;  // linear
  uint32_t length;   // bytes of the instruction
  char symbol[64];   // the debugger's symbol field, blanks dropped (mostly empty)
  char text[128];    // the instruction, trailing blanks dropped
  char bytes[32];    // as given: hexadecimal, two digits a byte, 15 bytes at most
};

struct DisasmReply {
  std::vector<DisasmLine> lines;
  bool error;                // a line that is no instruction ended the listing
  bool error_address_known;  // it named the address that could not be read ("0x...")
  uint32_t error_address;
  char error_text[128];      // that line, cut
};

// Scans one line (without its newline). False when it is no instruction line.
bool scan_disasm_line(const char *line, size_t length, DisasmLine *out);

// Scans a reply's text up to the prompt. Lines after the first that is no
// instruction line are not read.
void scan_disasm_reply(const std::string &text, DisasmReply *out);

// ---------------------------------------------------------------------------
// The instructions before an address.
//
// x86 code cannot be read backwards, so it is read forwards from a little
// before: a reply from a start address "lands" when one of its lines begins
// exactly at the target, which means that decoding from that start falls into
// step with the instructions at the target. The rule:
//   1. The first start is back_scan_distance bytes before the target (never
//      below the floor: the start of the code segment, or of the readable
//      memory after an error); each reply asks for back_scan_lines
//      instructions, more than that many bytes can hold, so that every reply
//      either lands, steps over the target, or ends in an error.
//   2. The next starts are the following addresses, one byte on each time,
//      passing over every address that an earlier reply already decoded as
//      an instruction start (a reply from there is the tail of that one and
//      proves nothing new).
//   3. It stops when two replies have landed, after back_scan_tries replies,
//      or when the starts reach the target.
//   4. With two replies that landed, the lines shown are those of the first
//      from the first address where the second agrees with it (from there on
//      both decode the same instructions); lines before it, where they
//      disagree, are dropped. With one reply that landed, its lines. With
//      none, no lines before the target.
//   5. At most lines_before_shown lines, the nearest to the target.
// A start whose reply ends in an error before the target raises the floor
// past the address it names (or, when it names none, to the target's 4 KiB
// page, or past the start): memory below it cannot be read.
const uint32_t back_scan_distance = 48;
const uint32_t back_scan_lines = 64;
const int back_scan_tries = 12;
const size_t lines_before_shown = 16;
const uint32_t lines_after_target = 24;

class BackScan {
 public:
  BackScan(uint32_t target, uint32_t floor);

  // The start of the next reply to ask for; false when the scan is over.
  bool next_start(uint32_t *start);
  // The reply from that start.
  void take(uint32_t start, const DisasmReply &reply);

  // The lines before the target, nearest last (rule 4 and 5).
  std::vector<DisasmLine> lines_before() const;
  // The first reply that landed, from the target on (its line at the target
  // first); empty when none landed.
  std::vector<DisasmLine> lines_from_target() const;

  int replies_taken() const { return tries_; }
  int replies_landed() const { return (int)landed_.size(); }

 private:
  bool decoded(uint32_t address) const;

  uint32_t target_, floor_;
  uint32_t candidate_;  // the next start to consider
  int tries_ = 0;
  std::vector<uint32_t> starts_seen_;     // every instruction start of every reply
  std::vector<DisasmReply> landed_;       // replies that landed, in order
};
