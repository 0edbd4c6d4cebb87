// Stop reports, the current-instruction line, trace lines and tracing.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

struct StopLocation {
  uint32_t physical_address;
  uint32_t length;
  uint32_t cs;
  uint32_t eip;
  char text[128];
  char bytes[128];
};

extern StopLocation stop_location;

void read_current_instruction();
void handle_reply_ready(int from_child);
void toggle_tracing(GtkWidget *widget = NULL, gpointer data = NULL);
