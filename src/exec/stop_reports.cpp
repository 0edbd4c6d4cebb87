#include "exec/stop_reports.hpp"

#include <csignal>
#include <cstring>
#include <sys/types.h>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "link/reply_scan.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"

StopLocation stop_location;
int instruction_report_lost = 0;

// Lines of the current-instruction report still to read: 2, or 1 when its
// first line has been read already (after Stop).
static int report_lines = 2;

static const int trace_batch_lines = 1000;
static const gint64 trace_batch_microseconds = 10000;

// ---------------------------------------------------------------------------
// Scanners: text in, record out.

bool read_reply_line(FILE *stream, char line[reply_line_size]) {
  int n = 0;
  while (n < reply_line_size - 1) {
    int c = getc_unlocked(stream);  // one thread reads the replies
    if (c == EOF) {
      // The debugger has gone (or the read failed) before the line was whole.
      line[0] = '\0';
      return false;
    }
    if (c == '<') {
      ungetc(c, stream);
      break;
    }
    line[n++] = (char)c;
    if (c == '\n') break;
  }
  line[n] = '\0';
  return true;
}

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

InstructionScan scan_instruction_line(const char *line, StopLocation *at, int trace) {
  InstructionScan scan = {instruction_no_address, 0};
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

InstructionScan scan_current_instruction(FILE *stream, StopLocation *at, int *lost, int lines) {
  char line[reply_line_size];
  *lost = 0;
  if ((lines > 1 && !read_reply_line(stream, line)) || !read_reply_line(stream, line)) {
    *lost = 1;
    InstructionScan none = {instruction_no_address, 0};
    return none;
  }
  return scan_instruction_line(line, at, 0);
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

void scan_stop_line(FILE *stream, StopLine *stop) {
  memset(stop, 0, sizeof *stop);
  if (!read_reply_line(stream, stop->line)) {
    stop->kind = stop_line_missing;
    return;
  }
  classify_stop_line(stop);
}

// ---------------------------------------------------------------------------
// Handlers: they read reply_stream through the scanners and draw the records.

void read_current_instruction() {
  next_enabled = 0;
  if (next_button) gtk_widget_set_sensitive(next_button, FALSE);
  instruction_report_lost = 0;
  if (debugger_offline || reply_stream == NULL) return;

  int lost;
  InstructionScan scan = scan_current_instruction(reply_stream, &stop_location, &lost, report_lines);
  instruction_report_lost = lost;
  if (scan.stage <= instruction_no_location) return;

  char shown[32];
  format_hex(shown, stop_location.physical_address, 8);  // "%.8X"
  show_in_entry(physical_entry, shown);
  format_hex(format_hex(shown, stop_location.cs, 4), stop_location.eip, 8, ':');  // "%.4X:%.8X"
  show_in_entry(location_entry, shown);
  if (scan.stage == instruction_no_text) return;

  if (scan.next_offered) {
    next_enabled = 1;
    gtk_widget_set_sensitive(next_button, TRUE);
  }
  show_in_entry(instruction_entry, stop_location.text);
}

void handle_reply_ready(int from_child) {
  unwatch_replies();
  target_running = 0;
  // Stop interrupts the target. What the debugger wrote before it stopped is
  // read first, as it would have been without Stop: trace lines still on
  // their way, or the report of a breakpoint or watchpoint reached just now.
  // The first other line begins the report of the interrupt.
  if (!from_child && child_pid > 0) kill(child_pid, SIGINT);
  {
    StopLine stop;
    // Trace lines already waiting in the stream's buffer are taken in one go,
    // up to a limit, so that the window stays responsive (Stop) meanwhile.
    gint64 deadline = g_get_monotonic_time() + trace_batch_microseconds;
    for (int batch = 1;; batch++) {
      if (reply_stream != NULL)
        scan_stop_line(reply_stream, &stop);
      else
        stop.kind = stop_line_missing;
      if (stop.kind != stop_line_other || !tracing) break;
      // After Stop, a line without an instruction address begins the report.
      if (!from_child) {
        StopLocation probe = stop_location;
        if (scan_instruction_line(stop.line, &probe, 0).stage == instruction_no_address) break;
      }
      scan_instruction_line(stop.line, &stop_location, 1);
      history_add_instruction();
      if (!from_child) continue;  // read on, blocking, until the report
      if (batch < trace_batch_lines && reply_line_buffered() &&
          g_get_monotonic_time() < deadline)
        continue;
      target_running = 1;
      watch_replies();
      return;
    }
    switch (stop.kind) {
      case stop_line_breakpoint:
        refresh_after_stop();
        if (instruction_report_lost) break;
        if (next_pending && stop_location.physical_address == next_target) {
          send_command(format_delete_breakpoint, stop.number);
          wait_for_prompt();
          next_pending = 0;
        } else {
          history_message("Stopped on a breakpoint");
          refresh_breakpoints(1);
          mark_breakpoint_hit(stop.number);
        }
        break;
      case stop_line_watchpoint:
        refresh_after_stop();
        if (instruction_report_lost) break;
        history_message("Stopped on a watchpoint");
        refresh_watchpoints(1);
        mark_watchpoint_hit(stop.read_watch ? 0 : 1, stop.address);
        break;
      case stop_line_prompt:
        // The debugger is back at its prompt without a report: the run is over.
        wait_for_prompt();
        break;
      case stop_line_other:
        // After Stop, the first line of the interrupt's report: the
        // current-instruction line follows. Without Stop and with tracing
        // off, any other line ends the wait.
        if (!from_child) {
          report_lines = 1;
          refresh_after_stop();
          report_lines = 2;
        }
        break;
      default:  // stop_line_missing: the debugger has gone
        break;
    }
  }
  set_run_state(0);
}

void toggle_tracing(GtkWidget *, gpointer) {
  if (tracing) {
    tracing = 0;
    history_message("--- TRACE DISABLED ---");
    send_command("%s", command_trace_off);
  } else {
    tracing = 1;
    history_flush_repeats();
    history_reset_repeats();
    history_message("--- TRACE ENABLED ---");
    send_command("%s", command_trace_on);
  }
  wait_for_prompt();
}
