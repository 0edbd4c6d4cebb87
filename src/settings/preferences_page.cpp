#include "settings/preferences_page.hpp"

#include <cstdio>

#include "exec/run_control.hpp"
#include "settings/config_file.hpp"
#include "text/address.hpp"
#include "text/cpu_scan.hpp"
#include "text/config_text.hpp"
#include "text/struct_defs.hpp"

PreferencesEvents preferences_events = {};

const GtkPositionType tab_positions[4] = {GTK_POS_BOTTOM, GTK_POS_TOP, GTK_POS_LEFT, GTK_POS_RIGHT};

static PreferencesPage P = {};

PreferencesPage &preferences_page() { return P; }

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
  const char *what;   // in messages
  uint32_t largest;   // what the entry can hold
};

void history_length_changed() {
  if (preferences_events.history_length_changed) preferences_events.history_length_changed();
}
void stack_counts_changed() {
  if (preferences_events.stack_counts_changed) preferences_events.stack_counts_changed();
}

const NumericSetting numeric_settings[5] = {
    {&P.history_length_entry, &settings.history_length, "Instruction History Length", 5, true,
     history_length_changed, "history length", largest_history_length},
    {&P.stack_above_entry, &settings.stack_above, "Stack values above ESP", 4, false, stack_counts_changed,
     "count of stack values", largest_stack_count},
    {&P.stack_below_entry, &settings.stack_below, "Stack values below ESP", 4, false, stack_counts_changed,
     "count of stack values", largest_stack_count},
    {&P.step_lock_time_entry, &settings.step_lock_time, "Step-Lock Time (seconds)", 3, true, NULL, "time", 999},
    {&P.next_lock_time_entry, &settings.next_lock_time, "Next-Lock Time (seconds)", 3, true, NULL, "time", 999},
};

void show_setting(const NumericSetting &s) {
  char text[16];
  snprintf(text, sizeof text, "%u", *s.setting);
  gtk_entry_set_text(GTK_ENTRY(*s.entry), text);
}

// The entry's number becomes the setting, and the entry shows what was
// stored. Anything else (a negative number, a word) is refused: the page says
// why and the entry keeps the text for correction.
void apply_setting(const NumericSetting &s) {
  uint32_t value;
  char message[address_message_size];
  if (!parse_setting(gtk_entry_get_text(GTK_ENTRY(*s.entry)), s.largest, s.what, &value, message)) {
    gtk_label_set_text(GTK_LABEL(P.message), message);
    return;
  }
  gtk_label_set_text(GTK_LABEL(P.message), "");
  if (value == 0 && s.zero_becomes_one) value = 1;
  *s.setting = value;
  // The stack view reads no more than its bound: said, not done in silence.
  if (s.follow_up == stack_counts_changed && value > stack_walk_limit)
    gtk_label_set_text(GTK_LABEL(P.message), stack_count_cut_text(value).c_str());
  if (s.follow_up) s.follow_up();
  show_setting(s);
}

// "activate" of an entry, with its setting's index as data.
void setting_activated(GtkWidget *, gpointer index) { apply_setting(numeric_settings[GPOINTER_TO_INT(index)]); }

// ---------------------------------------------------------------------------
// Check buttons and the page tabs.

void toggle_reload_breakpoints(GtkWidget *, gpointer) {
  settings.reload_breakpoints = !settings.reload_breakpoints;
}
void toggle_reload_watchpoints(GtkWidget *, gpointer) {
  settings.reload_watchpoints = !settings.reload_watchpoints;
}
void trace_clicked(GtkWidget *, gpointer) { toggle_tracing(); }
void clear_history_clicked(GtkWidget *, gpointer) {
  if (preferences_events.clear_history) preferences_events.clear_history();
}

void apply_tab_position(ButtonGroup *group) {
  if (group->selected > 3) return;
  settings.tabs = group->selected;
  if (tabs_notebook != NULL)
    gtk_notebook_set_tab_pos(GTK_NOTEBOOK(tabs_notebook), tab_positions[group->selected]);
}

}  // namespace

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
  for (int i = 0; i < 5; i++) {
    const NumericSetting &s = numeric_settings[i];
    GtkWidget *row = add_hbox(left, 0);
    *s.entry = add_entry(row, 0, 75);
    gtk_entry_set_max_length(GTK_ENTRY(*s.entry), s.max_characters);
    gtk_entry_set_editable(GTK_ENTRY(*s.entry), TRUE);
    connect_signal(*s.entry, "activate", VUM_SIGNAL_FUNC(setting_activated), GINT_TO_POINTER(i));
    add_label(row, 0, s.label, 0);
  }
  P.message = add_label(left, 0, "", 1);
  add_separator(columns, 0, 1);

  GtkWidget *right = add_vbox(columns, 0);
  P.clear_history_button = add_button(right, 0, "Clear History");
  connect_signal(P.clear_history_button, "clicked", VUM_SIGNAL_FUNC(clear_history_clicked), NULL);
  P.trace_button = add_check_button(right, 0, "Enable instruction tracing", 0);
  connect_signal(P.trace_button, "clicked", VUM_SIGNAL_FUNC(trace_clicked), NULL);
  P.reload_breakpoints_button = add_check_button(right, 0, "Reload breakpoints when restarting Bochs", 1);
  connect_signal(P.reload_breakpoints_button, "clicked", VUM_SIGNAL_FUNC(toggle_reload_breakpoints), NULL);
  P.reload_watchpoints_button = add_check_button(right, 0, "Reload watchpoints when restarting Bochs", 1);
  connect_signal(P.reload_watchpoints_button, "clicked", VUM_SIGNAL_FUNC(toggle_reload_watchpoints), NULL);
  GtkWidget *tabs_row = add_hbox(right, 0);
  add_label(tabs_row, 0, "Page tabs", 0);
  static const char *const tab_labels[4] = {" Bottom ", " Top ", " Left ", " Right "};
  P.tabs_group = add_button_group(tabs_row, 0, 0, 4, tab_labels);
  P.tabs_group->callback = apply_tab_position;

  // The defaults, then what the configuration file says.
  reset_settings();
  reset_tracing();
  button_group_select(P.tabs_group, 0);

  struct_defs.first = struct_defs.last = NULL;
  load_config(P.tabs_group);

  for (const NumericSetting &s : numeric_settings) show_setting(s);
  show_reload_switch(P.reload_breakpoints_button, &settings.reload_breakpoints);
  show_reload_switch(P.reload_watchpoints_button, &settings.reload_watchpoints);
}

void preferences_after_build() {
  for (const std::string &text : take_config_messages())
    if (preferences_events.message) preferences_events.message(text.c_str());
}

void set_preferences_sensitive(bool on) {
  if (P.trace_button) gtk_widget_set_sensitive(P.trace_button, on ? TRUE : FALSE);
}
