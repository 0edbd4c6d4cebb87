#include "exec/stop_reports.hpp"

// Stop reports are not parsed yet; these keep their final names.

StopLocation stop_location;

void read_current_instruction() {}
void handle_reply_ready(int) {}
void toggle_tracing(GtkWidget *, gpointer) {}
