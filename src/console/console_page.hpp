// The Console page: an entry that takes any debugger command and a scrolling
// text of the dialogue, each command echoed before its reply. Up and Down
// bring back earlier commands. What would run the target or end the
// debugger goes through VUM's own controls or is refused (see
// text/console_rules.hpp), so that VUM's views stay in step.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "exec/run_control.hpp"

void build_console_page(GtkWidget *box);
void set_console_sensitive(bool on);
// After a stop that a console command began: where the CPU stopped.
void console_stopped(const Stop &stop);

// Carries out one typed line as the entry's Enter does.
void console_enter(const char *line);

// The most text the view keeps; the oldest lines go first.
const size_t console_text_limit = 512 * 1024;

// What the page reports. Every member may be left empty.
struct ConsoleEvents {
  void (*points_changed)();  // a command may have set or deleted breakpoints or watchpoints
};
extern ConsoleEvents console_events;

// The page's state: one record (the test seam).
struct ConsolePage {
  GtkWidget *view;
  GtkTextBuffer *text;
  GtkWidget *entry;
  GtkWidget *send_button;
  std::vector<std::string> recalled;  // the commands typed, oldest first
  size_t recall_at;                   // recalled.size() while a new line is typed
  std::string draft;                  // that new line, kept while older ones are shown
  bool run_begun;                     // Step, Go or Next began from the console
};
ConsolePage &console_page();

// The whole text of the view.
std::string console_text();
