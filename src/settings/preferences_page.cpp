#include "settings/preferences_page.hpp"

#include "exec/stop_reports.hpp"

uint32_t step_lock_time = 2;
uint32_t next_lock_time = 2;

GtkWidget *trace_button = NULL;
ButtonGroup *tabs_group = NULL;

// The rest of the Preferences page is not built yet; the settings keep their
// defaults.
void build_preferences_page(GtkWidget *page) {
  GtkWidget *columns = add_hbox(page, 0);
  add_vbox(columns, 0);  // the left column
  add_separator(columns, 0, 1);
  GtkWidget *right = add_vbox(columns, 0);
  trace_button = add_check_button(right, 0, "Enable instruction tracing", 0);
  connect_signal(trace_button, "clicked", VUM_SIGNAL_FUNC(toggle_tracing), NULL);
}
