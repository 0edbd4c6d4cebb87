// The table of pages: every page of the notebook (and the CPU state panel)
// with its builder and its reactions. Adding a page is one file and one row.
#pragma once

#include <gtk/gtk.h>

#include "exec/run_control.hpp"

struct PageRow {
  const char *title;             // the notebook tab; none for the CPU state panel
  bool scrolled;                 // the page scrolls as a whole
  void (*build)(GtkWidget *box);
  void (*after_build)();         // once every page is built and the link is offline
  void (*set_sensitive)(bool on);  // on while the debugger waits at its prompt
  void (*starting)();            // a new debugger starts
  void (*stopped)(const Stop &stop);  // after every stop, in table order
  void (*hit)(const Stop &stop);      // a breakpoint or watchpoint stopped the target
  void (*reload)();              // a new debugger has taken its first step
  int refresh_rank;              // Refresh All Windows, lowest rank first; 0: nothing
  void (*refresh_windows)();
};

extern const PageRow page_table[];
extern const int page_count;
