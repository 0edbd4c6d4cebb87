#include "exec/stop_reports.hpp"

#include <csignal>
#include <cstring>
#include <sys/types.h>

#include "exec/control_bar.hpp"
#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "link/reply_scan.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"

StopLocation stop_location;
bool tracing = false;
bool instruction_report_lost = false;
bool instruction_report_unreadable = false;

// A report has given a location since the program started.
static bool location_known = false;

// The entries show where the CPU last stood, or nothing before any report.
static void show_last_location() {
  char shown[32];
  if (!location_known) {
    show_in_entry(physical_entry, "");
    show_in_entry(location_entry, "");
    show_in_entry(instruction_entry, "");
    return;
  }
  format_hex(shown, stop_location.physical_address, 8);
  show_in_entry(physical_entry, shown);
  format_hex(format_hex(shown, stop_location.cs, 4), stop_location.eip, 8, ':');
  show_in_entry(location_entry, shown);
  show_in_entry(instruction_entry, stop_location.text);
}

static void history_row() {
  if (exec_events.instruction) exec_events.instruction();
}

// Lines of the current-instruction report still to read: 2, or 1 when its
// first line has been read already (after Stop).
static int report_lines = 2;

static const int trace_batch_lines = 1000;
static const gint64 trace_batch_microseconds = 10000;

// ---------------------------------------------------------------------------
// Handlers: they read reply_stream through the scanners and draw the records.

void read_current_instruction() {
  next_enabled = false;
  if (next_button) gtk_widget_set_sensitive(next_button, FALSE);
  instruction_report_lost = false;
  instruction_report_unreadable = false;
  if (debugger_offline || !reply_stream.is_open()) return;

  bool lost;
  char line[reply_line_size];
  InstructionScan scan = scan_current_instruction(reply_stream, &stop_location, &lost, report_lines, line);
  instruction_report_lost = lost;
  instruction_report_unreadable = !lost && scan.stage <= instruction_no_location;
  if (instruction_report_unreadable) {
    // Said once, by its first characters; the bar goes back to the last
    // place known, not a banner of a state that is over.
    char excerpt[44], text[80];
    printable_excerpt(line, excerpt);
    snprintf(text, sizeof text, "Unreadable reply from Bochs: %s", excerpt[0] ? excerpt : "(empty)");
    report_message(text);
    show_last_location();
  }
  if (scan.stage <= instruction_no_location) return;
  location_known = true;

  char shown[32];
  format_hex(shown, stop_location.physical_address, 8);  // "%.8X"
  show_in_entry(physical_entry, shown);
  format_hex(format_hex(shown, stop_location.cs, 4), stop_location.eip, 8, ':');  // "%.4X:%.8X"
  show_in_entry(location_entry, shown);
  if (scan.stage == instruction_no_text) return;

  if (scan.next_offered) {
    next_enabled = true;
    gtk_widget_set_sensitive(next_button, TRUE);
  }
  show_in_entry(instruction_entry, stop_location.text);
}

void handle_reply_ready(bool from_child) {
  unwatch_replies();
  target_running = false;
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
      if (reply_stream.is_open())
        scan_stop_line(reply_stream, &stop);
      else
        stop.kind = stop_line_missing;
      if (stop.kind != stop_line_other || !tracing) break;
      // After Stop, a line without an instruction address begins the report.
      if (!from_child) {
        StopLocation probe = stop_location;
        if (scan_instruction_line(stop.line, &probe, false).stage == instruction_no_address) break;
      }
      scan_instruction_line(stop.line, &stop_location, true);
      history_row();
      if (!from_child) continue;  // read on, blocking, until the report
      if (batch < trace_batch_lines && reply_stream.line_buffered() &&
          g_get_monotonic_time() < deadline)
        continue;
      target_running = true;
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
          next_pending = false;
        } else {
          report_message("Stopped on a breakpoint");
          refresh_breakpoints(true);
          mark_breakpoint_hit(stop.number);
        }
        break;
      case stop_line_watchpoint:
        refresh_after_stop();
        if (instruction_report_lost) break;
        report_message("Stopped on a watchpoint");
        refresh_watchpoints(true);
        mark_watchpoint_hit(stop.read_watch ? watchpoint_read : watchpoint_write, stop.address);
        break;
      case stop_line_prompt:
        // The debugger is back at its prompt without a report: the run is over.
        wait_for_prompt();
        break;
      case stop_line_other:
        // The first line of a report of a stop, for Stop's interrupt or any
        // other reason: the current-instruction line follows, and the
        // prompt; both are read, so the dialogue stays in step.
        report_lines = 1;
        refresh_after_stop();
        report_lines = 2;
        break;
      default:  // stop_line_missing: the debugger has gone
        break;
    }
  }
  set_run_state(0);
}

void toggle_tracing(GtkWidget *, gpointer) {
  if (tracing) {
    tracing = false;
    report_message("--- TRACE DISABLED ---");
    send_command("%s", command_trace_off);
  } else {
    tracing = true;
    // A pending repeat count is written first, and folding starts afresh.
    if (exec_events.tracing_enabled) exec_events.tracing_enabled();
    report_message("--- TRACE ENABLED ---");
    send_command("%s", command_trace_on);
  }
  wait_for_prompt();
}
