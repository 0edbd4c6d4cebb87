// Every text the debugger writes on standard error, in one place: the
// prompt, the current-instruction line, stop reports, listings, the register
// dump, memory dumps and error lines.
//
// Rules kept by every function here:
// - No '<' except in the prompt and in the "<bogus+N>:" labels of memory
//   dumps; text that comes from the user passes through `printable` first.
// - Every reply line ends with "\n"; the prompt is the only text without one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder.hpp"
#include "machine.hpp"
#include "points.hpp"

namespace sim {
namespace reply {

// "<bochs:N> "
std::string prompt(unsigned n);

// "Next at t=N\n"
std::string next_at(uint64_t ticks);

// The current-instruction line (also the form of a trace line):
// "(0) [0x00007c00] 0000:7c00 (unk. ctxt): call 0x7c4b              ; e83b00\n"
// The offset has 8 digits when the code segment is 32-bit.
std::string instruction_line(const Machine &m);

// What "s" prints, and a stop report ends with: next_at + instruction_line.
std::string location(const Machine &m);

// Notice lines, written before next_at (after a stop line, if any).
std::string magic_breakpoint();  // "(0) Magic breakpoint"
std::string triple_fault_reset();  // "(0) Reset after a triple fault"
std::string guest_output_dropped(uint64_t bytes);

// A line of "u": "%08x: (" + a 20-blank symbol field + "): " + the
// instruction text padded as in the current-instruction line + " ; " + bytes.
std::string disassembly_line(uint32_t linear, const Insn &in);

// Stop lines of "c".
std::string breakpoint_stop(unsigned number, uint32_t address);
std::string watch_stop(bool write, uint32_t address);

// "info break": header line, then one line per breakpoint.
std::string breakpoint_list(const std::vector<Breakpoint> &points);

// "watch": one line per watchpoint, "read 0x00000500 (1234)"; the value is
// the dword at the address when it is a multiple of 4, else the word.
std::string watch_list(const std::vector<Watchpoint> &points, const Memory &mem);

// "dump_cpu": 38 lines ending with "done".
std::string dump_cpu(const Cpu &c);

// "x" / "xp": lines "0x%08x <bogus+N>:" (N the byte offset of the line's
// first unit from `address`) followed by TAB-separated values: 8 bytes or
// words, 4 doublewords or 2 quadwords to a line. unit is one of b h w g;
// format one of x d u t o. The range must lie in memory.
std::string examine(const Memory &mem, uint32_t address, unsigned count, char unit, char format);
// The same from bytes already read: bytes[i] is the byte at address + i.
std::string examine_bytes(const uint8_t *bytes, uint32_t address, unsigned count, char unit, char format);

std::string tracing(bool on);
std::string help();

// The first line of the start-up text.
std::string banner();

// What --fail-start writes as the last lines before it exits: the text,
// line by line, made printable, each line ending with a newline.
std::string failed_start(const std::string &text);

// Start-up failures: the boot image or the state file cannot be read.
std::string cannot_read(const char *what);

// Start-up text written before the first prompt (without the location).
std::string startup(const std::string &image, const std::vector<std::string> &notes);

// One-line errors.
std::string unknown_command(const std::string &word);
std::string usage(const char *form);
std::string bad_number(const std::string &text);
std::string no_breakpoint(const std::string &number);
std::string too_many_breakpoints();
std::string no_watchpoint(bool write, uint32_t address);
std::string too_many_watchpoints();
std::string no_segment(uint16_t selector);
// An examined range that does not end inside memory. Its second word begins
// with 'r' and its third is not a number, so that a dump window shows only
// the text and the one-value reads find no value in it.
std::string past_end_of_memory(uint32_t address, uint64_t bytes);
// A linear range (of "x" or "u") that touches a page that is not present,
// or (for "u") a byte beyond memory; `linear` is the first such byte. The
// same word rules as past_end_of_memory.
std::string page_not_present(uint32_t linear);
std::string read_past_end_of_memory(uint32_t linear);
std::string line_too_long();
// "set" and "setpmem".
std::string not_a_register(const std::string &name);
std::string bad_size(const std::string &text);
std::string value_too_wide(uint32_t value, unsigned size);
std::string write_past_end_of_memory(uint32_t address, unsigned bytes);

// `text` made safe to echo: at most `max` bytes (then "..."), bytes outside
// printable ASCII and '<' shown as '?'.
std::string printable(const std::string &text, size_t max = 40);

}  // namespace reply
}  // namespace sim
