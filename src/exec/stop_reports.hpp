// Stop reports, the current instruction and tracing: the handlers that read
// what the debugger prints at a stop and draw it. The scanners are in
// exec/stop_scan.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "exec/stop_scan.hpp"

extern StopLocation stop_location;
extern bool tracing;  // the debugger's instruction tracing is on

void read_current_instruction();
void handle_reply_ready(bool from_child);
void toggle_tracing(GtkWidget *widget = NULL, gpointer data = NULL);

// True when the last current-instruction report met the end of the replies
// (the debugger has gone): nothing of it was parsed.
extern bool instruction_report_lost;

// True when the last current-instruction report came but did not give a
// location: it has been named in the history, and gives no history row.
extern bool instruction_report_unreadable;
