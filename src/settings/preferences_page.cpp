#include "settings/preferences_page.hpp"

#include <cstdio>

#include "exec/stop_reports.hpp"
#include "history/history.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/config_file.hpp"
#include "settings/config_text.hpp"
#include "views/stack_view.hpp"
#include "views/struct_defs.hpp"

uint32_t step_lock_time = 2;
uint32_t next_lock_time = 2;

GtkWidget *history_length_entry = NULL;
GtkWidget *stack_above_entry = NULL;
GtkWidget *stack_below_entry = NULL;
GtkWidget *step_lock_time_entry = NULL;
GtkWidget *next_lock_time_entry = NULL;
GtkWidget *clear_history_button = NULL;
GtkWidget *trace_button = NULL;
GtkWidget *reload_breakpoints_button = NULL;
GtkWidget *reload_watchpoints_button = NULL;
ButtonGroup *tabs_group = NULL;

const GtkPositionType tab_positions[4] = {GTK_POS_BOTTOM, GTK_POS_TOP, GTK_POS_LEFT, GTK_POS_RIGHT};

// The notebook whose tabs the group moves: the one this page is in.
static GtkWidget *tabs_notebook = NULL;

// ---------------------------------------------------------------------------
// The five numeric settings.

namespace {

struct NumericSetting {
  GtkWidget **entry;
  uint32_t *setting;
  const char *label;
  int max_characters;
  bool zero_becomes_one;
  void (*follow_up)();
  GtkSignalFunc handler;
};

void trim_history() { history_trim(); }
void refresh_stack_view() { refresh_stack(); }

const NumericSetting numeric_settings[5] = {
    {&history_length_entry, &history_length, "Instruction History Length", 5, true, trim_history,
     VUM_SIGNAL_FUNC(apply_history_length)},
    {&stack_above_entry, &stack_above, "Stack values above ESP", 4, false, refresh_stack_view,
     VUM_SIGNAL_FUNC(apply_stack_above)},
    {&stack_below_entry, &stack_below, "Stack values below ESP", 4, false, refresh_stack_view,
     VUM_SIGNAL_FUNC(apply_stack_below)},
    {&step_lock_time_entry, &step_lock_time, "Step-Lock Time (seconds)", 3, true, NULL,
     VUM_SIGNAL_FUNC(apply_step_lock_time)},
    {&next_lock_time_entry, &next_lock_time, "Next-Lock Time (seconds)", 3, true, NULL,
     VUM_SIGNAL_FUNC(apply_next_lock_time)},
};

void show_setting(const NumericSetting &s) {
  char text[16];
  snprintf(text, sizeof text, "%u", *s.setting);
  gtk_entry_set_text(GTK_ENTRY(*s.entry), text);
}

void apply_setting(const NumericSetting &s) {
  int64_t number = entry_number(gtk_entry_get_text(GTK_ENTRY(*s.entry)));
  // A negative count or time means nothing; stored as the conversion gives
  // it, it would become a number of four billion (a stack walk of that many
  // reads, a history that is never trimmed). It is refused.
  if (number >= 0) {
    uint32_t value = number > (int64_t)UINT32_MAX ? UINT32_MAX : (uint32_t)number;
    if (value == 0 && s.zero_becomes_one) value = 1;
    *s.setting = value;
    if (s.follow_up) s.follow_up();
  }
  show_setting(s);
}

}  // namespace

void apply_history_length(GtkWidget *, gpointer) { apply_setting(numeric_settings[0]); }
void apply_stack_above(GtkWidget *, gpointer) { apply_setting(numeric_settings[1]); }
void apply_stack_below(GtkWidget *, gpointer) { apply_setting(numeric_settings[2]); }
void apply_step_lock_time(GtkWidget *, gpointer) { apply_setting(numeric_settings[3]); }
void apply_next_lock_time(GtkWidget *, gpointer) { apply_setting(numeric_settings[4]); }

// ---------------------------------------------------------------------------
// Check buttons and the page tabs.

void toggle_reload_breakpoints(GtkWidget *, gpointer) { reload_breakpoints = !reload_breakpoints; }
void toggle_reload_watchpoints(GtkWidget *, gpointer) { reload_watchpoints = !reload_watchpoints; }

void apply_tab_position(ButtonGroup *group) {
  if (group->selected <= 3 && tabs_notebook != NULL)
    gtk_notebook_set_tab_pos(GTK_NOTEBOOK(tabs_notebook), tab_positions[group->selected]);
}

// Shows a reload switch on its button and makes the switch 0 or 1 to match.
// Setting the button to a new state emits "clicked", whose handler flips the
// switch; storing the shown state afterwards leaves them in agreement.
static void show_reload_switch(GtkWidget *button, bool *setting) {
  bool on = *setting;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), on ? TRUE : FALSE);
  *setting = on;
}

void build_preferences_page(GtkWidget *page) {
  tabs_notebook = gtk_widget_get_ancestor(page, GTK_TYPE_NOTEBOOK);

  GtkWidget *columns = add_hbox(page, 0);
  GtkWidget *left = add_vbox(columns, 0);
  for (const NumericSetting &s : numeric_settings) {
    GtkWidget *row = add_hbox(left, 0);
    *s.entry = add_entry(row, 0, 75);
    gtk_entry_set_max_length(GTK_ENTRY(*s.entry), s.max_characters);
    gtk_entry_set_editable(GTK_ENTRY(*s.entry), TRUE);
    connect_signal(*s.entry, "activate", s.handler, NULL);
    add_label(row, 0, s.label, 0);
  }
  add_separator(columns, 0, 1);

  GtkWidget *right = add_vbox(columns, 0);
  clear_history_button = add_button(right, 0, "Clear History");
  connect_signal(clear_history_button, "clicked", VUM_SIGNAL_FUNC(history_clear), NULL);
  trace_button = add_check_button(right, 0, "Enable instruction tracing", 0);
  connect_signal(trace_button, "clicked", VUM_SIGNAL_FUNC(toggle_tracing), NULL);
  reload_breakpoints_button = add_check_button(right, 0, "Reload breakpoints when restarting Bochs", 1);
  connect_signal(reload_breakpoints_button, "clicked", VUM_SIGNAL_FUNC(toggle_reload_breakpoints), NULL);
  reload_watchpoints_button = add_check_button(right, 0, "Reload watchpoints when restarting Bochs", 1);
  connect_signal(reload_watchpoints_button, "clicked", VUM_SIGNAL_FUNC(toggle_reload_watchpoints), NULL);
  GtkWidget *tabs_row = add_hbox(right, 0);
  add_label(tabs_row, 0, "Page tabs", 0);
  static const char *const tab_labels[4] = {" Bottom ", " Top ", " Left ", " Right "};
  tabs_group = add_button_group(tabs_row, 0, 0, 4, tab_labels);
  tabs_group->callback = apply_tab_position;

  // The defaults, then what the configuration file says.
  history_length = 50;
  stack_above = 8;
  stack_below = 4;
  step_lock_time = 2;
  next_lock_time = 2;
  tracing = false;
  reload_breakpoints = true;
  reload_watchpoints = true;
  button_group_select(tabs_group, 0);

  struct_defs.first = struct_defs.last = NULL;
  load_config();

  for (const NumericSetting &s : numeric_settings) show_setting(s);
  show_reload_switch(reload_breakpoints_button, &reload_breakpoints);
  show_reload_switch(reload_watchpoints_button, &reload_watchpoints);
}
