// The Guest Output page: what the guest prints on its console (port 0xE9),
// as it comes, newest in view, also appended to the log file
// "__vum_guest.log__" beside the history log. The page keeps the last
// guest_text_kept bytes of text; the log keeps everything.
#pragma once

#include <gtk/gtk.h>

#include <cstddef>
#include <cstdio>
#include <string>

const size_t guest_text_kept = 256 * 1024;

void build_guest_output_page(GtkWidget *box);

// Bytes the guest printed (the link's guest_output event).
void guest_output_received(const char *bytes, size_t length);

// Writes what waits to be shown and to the log (at quit, say).
void flush_guest_output();

// The page's state: one record (the test seam).
struct GuestOutputPage {
  GtkWidget *view;
  GtkWidget *clear_button;
  GtkWidget *note;  // says when older text has been let go
  FILE *log;
  size_t received;  // bytes received since start-up
};
GuestOutputPage &guest_output_page();

// The text the page shows now (waiting text included).
std::string guest_output_text();
