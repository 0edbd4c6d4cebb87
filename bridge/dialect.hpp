// The two debugger dialects and the translation between them, without any
// input or output: VUM's command lines in, Bochs 2.7's lines out; Bochs 2.7's
// reply text in, the reply text VUM reads out.
//
// VUM speaks the dialect of the Bochs 2.0 debugger (the one the simulated PC
// speaks too): no echo, "dump_cpu", "trace-on", "unwatch read ADDR", memory
// dumps without a "[bochs]:" line, and so on. Each function here handles one
// of the differences; Session (session.hpp) strings them together.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {

// How the reply to one translated command becomes the old reply.
enum class Reply {
  Pass,       // line by line, each line translated; handed over at the prompt
  Step,       // as Pass, from the "Next at" line on (trace and watch lines before it go)
  Continue,   // line by line, each line handed over as soon as it is complete
  BreakList,  // "info break": sorted by number, old address layout
  WatchList,  // "watch": old words, no length
  Registers,  // "r;sreg;creg;dreg" rebuilt as the old register dump
  Examine,    // memory dump lines in the old layout
  Disassemble,  // "u": the contract's line layout, an unreadable address as one error line
  Quiet,      // nothing but the prompt
  Quit,       // nothing at all: the emulator ends
};

// What an examine command asked for, as VUM wrote it.
struct ExamineForm {
  char unit = 'w';               // b h w g
  char format = 'x';             // x d u o t c
  bool binary_from_hex = false;  // asked hex of Bochs to print binary (2.7 prints /gt empty)
};

// One old command line as the lines sent to Bochs 2.7, one after each prompt.
// A line that is not well formed for its command's grammar gets `refusal`,
// an error line of the old dialect, and no line goes to Bochs at all.
struct Plan {
  std::vector<std::string> lines;
  Reply reply = Reply::Pass;
  ExamineForm examine;
  std::string refusal;
  // The line makes the guest run ("c", "s"): a SIGINT may stop it.
  bool runs = false;
};

// The watchpoints Bochs holds, learnt from its own replies, in its list order
// (all read watchpoints, then all write watchpoints, each in creation order).
class WatchTable {
 public:
  struct Entry {
    uint64_t address;
    unsigned length;
  };

  // Learns from one reply line: "… watchpoint at 0x… len=N inserted",
  // "… watchpoint at 0x… removed", "All watchpoints removed".
  void learn(std::string_view line);

  const std::vector<Entry> &reads() const { return reads_; }
  const std::vector<Entry> &writes() const { return writes_; }

  // The watched address an access of unknown length at `access` most likely
  // hit: the watchpoint of that kind at the address, else one whose range holds
  // it, else the lowest one above it within 16 bytes; else `access` itself.
  uint64_t hit_address(bool write, uint64_t access) const;

 private:
  std::vector<Entry> reads_, writes_;
};

// An old command line (no newline) as what to send to Bochs 2.7.
Plan plan_command(std::string_view line, const WatchTable &watches);

// A number as VUM writes addresses and values: hexadecimal digits, with or
// without 0x, of at most 32 bits (leading zeros aside); nothing else.
bool read_hex32(std::string_view text, uint32_t *value);

// An address typed by the user: a bare hexadecimal number (with or without
// 0x, "seg:off" for vb) becomes 0x-prefixed hex, as the rest of VUM reads it;
// anything else comes back as it is (plan_command refuses it first).
std::string hex_address(std::string_view text);

// One 2.7 reply line in old words: instruction and trace lines in the old
// layout (8-digit addresses, old disassembly words, no tick count), stop
// reports in the old form (a watch stop names the watched address), tracing
// messages. Other lines come back as they are.
std::string translate_line(std::string_view line, const WatchTable &watches);

// The current-instruction (or trace) line in the old layout; false when
// `line` is not one.
bool reformat_instruction_line(std::string_view line, std::string *out);

// A trace line, "(0).[T] [0x…] …": true and its tick count.
bool is_trace_line(std::string_view line, uint64_t *tick);
// A notice of a stop report, "(0) Magic breakpoint": a processor field and
// words that are neither an instruction line nor a breakpoint or watchpoint
// report.
bool is_notice_line(std::string_view line);
// The notice that takes the place of the line Bochs prints when it resets
// the processor: the triple fault's when Bochs's log named one.
std::string reset_notice(std::string_view trace_line, bool triple_fault);
// Whether a line of Bochs's log says the processor met a fault it could not
// deliver and is being reset.
bool is_triple_fault_log(std::string_view line);

// One line of "u" in the layout VUM reads:
// "xxxxxxxx: (SYMBOL              ): TEXT                     ; BYTES".
// False when `line` is not a disassembly line.
bool reformat_disassembly_line(std::string_view line, std::string *out);
// Bochs's message for a linear address it cannot read, as the old dialect's
// error line ("Error: reading linear 0x%08x: page not present"); false when
// `line` is not such a message.
bool unreadable_linear_error(std::string_view line, std::string *out);

// Whole replies.
std::string rewrite_breakpoint_list(std::string_view reply);
std::string rewrite_watch_list(std::string_view reply, const WatchTable &watches);
std::string rebuild_registers(std::string_view reply);
std::string rewrite_examine(std::string_view reply, const ExamineForm &form);
std::string rewrite_disassembly(std::string_view reply);

// Reply text VUM can read without losing its place: every '<' but the one
// of a memory dump's "<bogus+N>" label becomes '?', since VUM takes a '<'
// for the start of the prompt.
std::string without_prompt_marks(std::string text);

// Small text helpers shared with the session.
bool starts_with(std::string_view text, std::string_view prefix);
// Hex digits (an optional 0x first) at the start of `text`: the value and how
// many bytes they took; false when there is no digit.
bool read_hex(std::string_view text, uint64_t *value, size_t *used);

}  // namespace bridge
