#include "exec/run_control.hpp"

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "link/debugger_child.hpp"
#include "text/debugger_commands.hpp"
#include "text/reply_scan.hpp"

RunEvents run_events = {};

namespace {

RunState R = {};
StopLocation &location = R.location;
Stop &stop = R.stop;
bool &tracing = R.tracing;
bool &next_enabled = R.next_enabled;
bool &next_pending = R.next_pending;
uint32_t &next_target = R.next_target;

// Trace lines already waiting in the replies are taken in one go, up to a
// limit, so that the window stays responsive (Stop) meanwhile.
const int trace_batch_lines = 1000;

// A step whose reply has not come in this time is interrupted: on a CPU
// halted with interrupts off it would never end.
const int step_patience_ms = 500;
bool cpu_halted = false;  // the last step left the CPU halted (by a hlt)
const gint64 trace_batch_microseconds = 10000;

void message(const char *text) {
  if (run_events.message) run_events.message(text);
}

void running(bool run) {
  if (run_events.running) run_events.running(run);
}

// The lines a report had before its location, told in the history: the ones
// VUM knows in its own words, any other as it came.
void tell_notices() {
  for (const std::string &line : stop.report.notices) {
    switch (classify_notice(line.c_str())) {
      case notice_magic_breakpoint:
        message("Stopped on a magic breakpoint");
        break;
      case notice_triple_fault:
        message("The CPU was reset (triple fault)");
        break;
      default: {
        std::string shown = line.substr(0, 160);
        for (char &c : shown)
          if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7f) c = '?';
        message(shown.c_str());
      }
    }
  }
}

// The fixed sequence after every stop: the report's text is scanned (the
// current instruction is its last line), the registers are read, and the
// pages are told. `complete`: the text came up to its prompt. False when the
// report was cut off by the end of the debugger: nothing else is read (the
// lost connection is reported when the end of the child is handled).
bool after_stop(const std::string &text, bool complete, bool with_stop_line) {
  next_enabled = false;
  scan_stop_report(text, with_stop_line, location, &stop.report);
  stop.report.lost = !complete;
  if (stop.report.lost) {
    stop.readable = false;
    if (run_events.stopped) run_events.stopped(stop);
    return false;
  }
  location = stop.report.location;
  stop.readable = stop.report.scan.stage > instruction_no_location;
  if (!stop.readable) {
    // Said once, by its first characters; the bar goes back to the last
    // place known.
    char excerpt[44], text_shown[80];
    printable_excerpt(text, excerpt);
    snprintf(text_shown, sizeof text_shown, "Unreadable reply from Bochs: %s",
             excerpt[0] ? excerpt : "(empty)");
    message(text_shown);
  }
  next_enabled = stop.readable && stop.report.scan.stage == instruction_complete &&
                 stop.report.scan.next_offered;
  read_registers(&stop.cpu);
  if (run_events.stopped) run_events.stopped(stop);
  tell_notices();
  return true;
}

// Lets the target run: the reply to "c" is read when it arrives.
void run_target(const char *text) {
  set_target_running(true);
  running(true);
  send_command("%s", command_continue);
  watch_replies();
  message(text);
}

// A line of a running target's replies that begins its stop report rather
// than being a trace line.
bool begins_report(const StopLine &line, bool from_child) {
  if (line.kind != stop_line_other || !tracing) return true;
  StopLocation probe = location;
  if (scan_instruction_line(line.line, &probe, false).stage == instruction_no_address) {
    // After Stop, any line without an instruction address begins the report;
    // while the target runs on, the lines that only a report has.
    if (!from_child) return true;
    return classify_notice(line.line) != notice_other || strncmp(line.line, "Next at", 7) == 0;
  }
  return false;
}

// The reply of a running target. Stop interrupts the target: what the
// debugger wrote before it stopped is read first, as it would have been
// without Stop (trace lines still on their way, or the report of a
// breakpoint or watchpoint reached just now).
void handle_reply(bool from_child) {
  unwatch_replies();
  set_target_running(false);
  if (!from_child) interrupt_debugger();
  gint64 deadline = g_get_monotonic_time() + trace_batch_microseconds;
  StopLine line;
  for (int batch = 1;; batch++) {
    memset(&line, 0, sizeof line);
    if (!read_run_line(line.line, sizeof line.line)) {
      running(false);  // the debugger has gone
      return;
    }
    classify_stop_line(&line);
    if (begins_report(line, from_child)) break;
    scan_instruction_line(line.line, &location, true);
    if (run_events.traced) run_events.traced(location);
    if (!from_child) continue;  // read on, blocking, until the report
    if (batch < trace_batch_lines && run_line_waiting() && g_get_monotonic_time() < deadline) continue;
    set_target_running(true);
    watch_replies();
    return;
  }
  std::string rest;
  bool complete = read_rest_of_reply(&rest);
  if (line.kind == stop_line_prompt) {
    // The debugger is back at its prompt without a report: the run is over.
    running(false);
    return;
  }
  // A page's own breakpoint is known before the pages hear of the stop
  // (the page deletes it then).
  bool own = line.kind == stop_line_breakpoint && run_events.own_breakpoint && run_events.own_breakpoint(line.number);
  if (after_stop(line.line + rest, complete, true)) {
    const StopLine &first = stop.report.stop;
    if (first.kind == stop_line_breakpoint && own) {
      // Said by the page that set it, if at all.
    } else if (first.kind == stop_line_breakpoint) {
      if (next_pending && location.physical_address == next_target) {
        std::string reply;
        exchange(&reply, format_delete_breakpoint, first.number);
        next_pending = false;
      } else {
        message("Stopped on a breakpoint");
        if (run_events.hit) run_events.hit(stop);
      }
    } else if (first.kind == stop_line_watchpoint) {
      char text[96];
      snprintf(text, sizeof text, "Stopped on the %s watchpoint at %.8X", first.read_watch ? "read" : "write",
               first.address);
      message(text);
      if (run_events.hit) run_events.hit(stop);
    }
  }
  running(false);
}

}  // namespace

RunState &run_seam() { return R; }

const StopLocation &current_location() { return location; }
bool next_offered() { return next_enabled; }
bool tracing_on() { return tracing; }

void run_go() {
  if (!debugger_waits()) return;
  run_target("GO...");
}

void run_next() {
  if (!debugger_waits()) return;
  next_target = location.physical_address + location.length;
  std::string reply;
  exchange(&reply, format_next_breakpoint, next_target);
  next_pending = true;
  run_target("NEXT...");
}

void run_step() {
  if (!debugger_waits()) return;
  StopLocation before = location;
  std::string text;
  bool interrupted = false, complete;
  bool at_hlt = strncmp(before.text, "hlt", 3) == 0;
  // Only a step on a hlt, or of a CPU that a hlt has halted, may never end
  // (Bochs returns from the hlt itself and then waits in the next step; the
  // simulated PC waits in the hlt).
  if (at_hlt || cpu_halted)
    complete = exchange_with_patience(&text, step_patience_ms, &interrupted, "%s", command_step);
  else
    complete = exchange(&text, "%s", command_step);
  if (!after_stop(text, complete, false)) return;
  bool stood_still = location.physical_address == before.physical_address;
  cpu_halted = at_hlt || (cpu_halted && interrupted && stood_still);
  if (!cpu_halted) return;
  if (stop.cpu.eflags & 0x200)
    message("The CPU is halted, waiting for an interrupt");
  else
    message("The CPU is halted with interrupts off: only a reset or an NMI wakes it");
}

void run_first_step() {
  next_pending = false;
  cpu_halted = false;
  run_step();
}

void run_stop() {
  if (!target_running()) return;
  handle_reply(false);
}

void run_reply_ready() { handle_reply(true); }

void toggle_tracing() {
  std::string reply;
  if (tracing) {
    tracing = false;
    message("--- TRACE DISABLED ---");
    exchange(&reply, "%s", command_trace_off);
  } else {
    tracing = true;
    // A pending repeat count is written first, and folding starts afresh.
    if (run_events.tracing_enabled) run_events.tracing_enabled();
    message("--- TRACE ENABLED ---");
    exchange(&reply, "%s", command_trace_on);
  }
}

void reset_tracing() { tracing = false; }

void read_registers(CpuState *cpu) {
  std::string text;
  exchange(&text, "%s", command_dump_cpu);
  scan_cpu_state(text.c_str(), cpu);
}
