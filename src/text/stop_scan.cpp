#include "text/stop_scan.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "text/reply_scan.hpp"

bool offers_next(const char *text) {
  char word_buffer[128];
  copy_until(text, word_buffer, '\0');
  uint32_t position = 0;
  char *word;
  if (next_token(word_buffer, &position, &word) == 0) return false;
  if (same_word(word, "call") || same_word(word, "int") || same_word(word, "rep:") ||
      same_word(word, "loop"))
    return true;
  return word[0] == 'j' && !same_word(word, "jmp");
}

InstructionScan scan_instruction_line(const char *line, StopLocation *at, bool trace) {
  InstructionScan scan = {instruction_no_address, false};
  uint32_t position = 0;

  // CPU field, optional.
  if (line[0] == '(') skip_field(line, &position);

  // Physical address.
  // "[0x%x] ": the characters "[0x", then a number as "%x" reads it.
  uint32_t address;
  int taken;
  if (strncmp(line + position, "[0x", 3) == 0 && scan_hex(line + position + 3, &address, &taken))
    at->physical_address = address;
  else if (!trace)
    return scan;
  skip_field(line, &position);

  // Segment and offset; a lone first number still replaces cs.
  scan.stage = instruction_no_location;
  // "%x:%x ": a number, ':' straight after it, a number.
  uint32_t segment, offset;
  int converted = 0;
  if (scan_hex(line + position, &segment, &taken)) {
    converted = 1;
    const char *colon = line + position + taken;
    if (*colon == ':' && scan_hex(colon + 1, &offset, &taken)) converted = 2;
  }
  if (converted >= 1) at->cs = segment;
  if (converted >= 2) at->eip = offset;
  if (converted < 2 && !trace) return scan;
  skip_field(line, &position);

  // Context field, optional: two words in parentheses.
  scan.stage = instruction_no_text;
  if (line[position] == '(') {
    skip_field(line, &position);
    skip_field(line, &position);
  }

  // Instruction text up to ';'.
  copy_until(line + position, at->text, ';');
  if (at->text[0] == '\0' && !trace) return scan;
  scan.next_offered = offers_next(at->text);

  // The bytes stand at the second character after the ';'. A text cut at its
  // 127 characters finds its ';' further on; a line without one has no bytes.
  const char *end_of_text = line + position + strlen(at->text);
  const char *semicolon = *end_of_text == ';' ? end_of_text : strchr(end_of_text, ';');
  if (semicolon != NULL) {
    const char *bytes = semicolon + 1;
    if (*bytes != '\0') bytes++;
    // The characters "%*x%n" takes: the digits with any blanks or "0x" before them.
    uint32_t ignored;
    int consumed = 0;
    if (!scan_hex(bytes, &ignored, &consumed)) consumed = 0;
    at->length = (uint32_t)consumed / 2;
    copy_until(bytes, at->bytes, '\n');
  } else {
    at->length = 0;
    at->bytes[0] = '\0';
  }
  trim_trailing_space(at->text);
  scan.stage = instruction_complete;
  return scan;
}

// The kind word is kept in 9 characters; a longer word is cut there, so it
// can never read as "read" and counts as a write watchpoint.
static bool scan_watchpoint(StopLine *stop) {
  int word = -1;
  if (sscanf(stop->line, "%*s Caught %n", &word) < 0 || word < 0) return false;
  uint32_t position = (uint32_t)word;
  int kept = 0;
  while (stop->line[position] != '\0' && !is_white(stop->line[position])) {
    if (kept < 9) stop->watch_kind[kept++] = stop->line[position];
    position++;
  }
  if (kept == 0) return false;
  stop->watch_kind[kept] = '\0';
  unsigned int address;
  if (sscanf(stop->line + position, " watch point at %x", &address) != 1) return false;
  stop->address = address;
  stop->read_watch = same_word(stop->watch_kind, "read");
  return true;
}

void classify_stop_line(StopLine *stop) {
  unsigned int number;
  if (sscanf(stop->line, "%*s Breakpoint %u,", &number) == 1) {
    stop->kind = stop_line_breakpoint;
    stop->number = number;
  } else if (scan_watchpoint(stop)) {
    stop->kind = stop_line_watchpoint;
  } else if (stop->line[0] == '\0') {
    stop->kind = stop_line_prompt;
  } else {
    stop->kind = stop_line_other;
  }
}

NoticeKind classify_notice(const char *line) {
  if (strstr(line, "Magic breakpoint") != NULL) return notice_magic_breakpoint;
  if (strstr(line, "triple fault") != NULL) return notice_triple_fault;
  return notice_other;
}

// A line cut to what a line buffer of the run reader holds.
static void keep_line(char out[reply_line_size], const std::string &line) {
  size_t n = line.size() < (size_t)reply_line_size - 1 ? line.size() : (size_t)reply_line_size - 1;
  memcpy(out, line.data(), n);
  out[n] = '\0';
}

void scan_stop_report(const std::string &text, bool with_stop_line, const StopLocation &location,
                      StopReport *report) {
  report->notices.clear();
  report->has_ticks = false;
  report->ticks = 0;
  report->scan = InstructionScan{instruction_no_address, false};
  report->location = location;
  report->lost = false;
  memset(&report->stop, 0, sizeof report->stop);
  report->stop.kind = stop_line_other;

  // The lines; text after the last newline (before the prompt) is a line too.
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t newline = text.find('\n', at);
    if (newline == std::string::npos) newline = text.size();
    lines.push_back(text.substr(at, newline - at));
    at = newline + 1;
  }
  size_t first = 0;
  if (with_stop_line) {
    if (lines.empty()) {
      report->stop.kind = stop_line_prompt;
    } else {
      keep_line(report->stop.line, lines[0]);
      classify_stop_line(&report->stop);
      if (report->stop.kind == stop_line_breakpoint || report->stop.kind == stop_line_watchpoint)
        first = 1;
      else
        report->stop.kind = stop_line_other;
    }
  }
  size_t count = lines.size() - first;
  if (count < 2) return;  // no instruction line
  for (size_t i = first; i + 2 < lines.size(); i++) report->notices.push_back(lines[i]);
  uint64_t ticks;
  if (sscanf(lines[lines.size() - 2].c_str(), " Next at t=%" SCNu64, &ticks) == 1) {
    report->has_ticks = true;
    report->ticks = ticks;
  }
  report->scan = scan_instruction_line(lines.back().c_str(), &report->location, false);
}

void format_stop_location(const StopLocation &at, char physical[12], char location[24]) {
  format_hex(physical, at.physical_address, 8);
  format_hex(format_hex(location, at.cs, 4), at.eip, 8, ':');
}
