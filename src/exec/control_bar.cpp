#include "exec/control_bar.hpp"

#include <cstring>

#include "kit/widget_kit.hpp"
#include "text/cpu_mode.hpp"
#include "text/symbols.hpp"

namespace {

ControlBar bar = {};

const char *const offline_banner = ".. o f f l i n e ..";
const char *const running_banner = ".. r u n n i n g ..";

// A report has given a location since the program started.
bool location_known = false;

// The text each entry shows next, when it is not showing it yet.
const int entries = 4, symbol_index = 3;
GtkWidget **const bar_entries[entries] = {&bar.physical_entry, &bar.location_entry, &bar.instruction_entry,
                                          &bar.symbol_entry};
char entry_texts[entries][128];
bool entry_waiting[entries] = {false, false, false, false};

// The linear address of the last place, when a readable stop gave one.
bool place_linear_known = false;
uint32_t place_linear = 0;

void show_entry_texts() {
  for (int i = 0; i < entries; i++) {
    if (!entry_waiting[i]) continue;
    entry_waiting[i] = false;
    if (*bar_entries[i] == NULL) continue;  // the window has gone
    GtkEntry *entry = GTK_ENTRY(*bar_entries[i]);
    if (strcmp(gtk_entry_get_text(entry), entry_texts[i]) != 0) gtk_entry_set_text(entry, entry_texts[i]);
  }
}

// Shows a text in one of the three entries. The entries are redrawn once the
// main loop is idle, with the last text each was given.
void show_in_entry(int which, const char *text) {
  g_strlcpy(entry_texts[which], text, sizeof entry_texts[which]);
  entry_waiting[which] = true;
  defer_display_update(show_entry_texts);
}

void show_place(const StopLocation &at) {
  char physical[12], place[24];
  format_stop_location(at, physical, place);
  show_in_entry(0, physical);
  show_in_entry(1, place);
}

// The name of the last place, in the entry that is shown only while there
// are symbols (with none, the bar looks as it always has).
void show_symbol() {
  if (bar.symbol_entry == NULL) return;
  if (symbol_count() == 0) {
    gtk_widget_hide(bar.symbol_entry);
    show_in_entry(symbol_index, "");
    return;
  }
  gtk_widget_show(bar.symbol_entry);
  char name[128] = "";
  if (place_linear_known) symbol_at(place_linear, name, sizeof name);
  show_in_entry(symbol_index, name);
}

void show_banner(const char *banner) {
  show_in_entry(0, "");
  show_in_entry(1, "");
  show_in_entry(2, banner);
  show_in_entry(symbol_index, "");
}

GtkWidget *add_read_only_entry(GtkWidget *box, int expand, int width, GtkWidget **kept) {
  GtkWidget *entry = add_entry(box, expand, width);
  gtk_entry_set_editable(GTK_ENTRY(entry), FALSE);
  use_monospace(entry);
  // A text still waiting when the window goes (at quit) is not shown.
  connect_signal(entry, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), kept);
  return entry;
}

void set_sensitive(GtkWidget *widget, bool on) {
  if (widget) gtk_widget_set_sensitive(widget, on ? TRUE : FALSE);
}

void go_clicked(GtkWidget *, gpointer) { run_go(); }
void stop_clicked(GtkWidget *, gpointer) { run_stop(); }
void step_clicked(GtkWidget *, gpointer) { run_step(); }
void next_clicked(GtkWidget *, gpointer) { run_next(); }

}  // namespace

const ControlBar &control_bar() { return bar; }

void build_control_bar(GtkWidget *box) {
  GtkWidget *row = add_hbox(box, 0);
  bar.physical_entry = add_read_only_entry(row, 0, 85, &bar.physical_entry);
  bar.location_entry = add_read_only_entry(row, 0, 140, &bar.location_entry);
  bar.symbol_entry = add_read_only_entry(row, 0, 120, &bar.symbol_entry);
  gtk_widget_set_tooltip_text(bar.symbol_entry, "The symbol at or below the current instruction");
  show_symbol();
  bar.instruction_entry = add_read_only_entry(row, 1, -1, &bar.instruction_entry);
  bar.go_button = add_button(row, 0, " Go ");
  connect_signal(bar.go_button, "clicked", VUM_SIGNAL_FUNC(go_clicked), NULL);
  bar.stop_button = add_button(row, 0, " Stop ");
  connect_signal(bar.stop_button, "clicked", VUM_SIGNAL_FUNC(stop_clicked), NULL);
  bar.step_button = add_button(row, 0, " Step ");
  connect_signal(bar.step_button, "clicked", VUM_SIGNAL_FUNC(step_clicked), NULL);
  bar.next_button = add_button(row, 0, " Next ");
  connect_signal(bar.next_button, "clicked", VUM_SIGNAL_FUNC(next_clicked), NULL);
}

void set_control_bar_sensitive(bool online) {
  if (!online) {
    show_banner(offline_banner);
    set_sensitive(bar.stop_button, false);
  }
  set_sensitive(bar.go_button, online);
  set_sensitive(bar.step_button, online);
  set_sensitive(bar.next_button, online && next_offered());
}

void control_bar_symbols_changed() { show_symbol(); }

void control_bar_running(bool running) {
  if (running) show_banner(running_banner);
  set_sensitive(bar.stop_button, running);
  set_sensitive(bar.go_button, !running);
  set_sensitive(bar.step_button, !running);
  set_sensitive(bar.next_button, !running && next_offered());
}

void control_bar_stopped(const Stop &stop) {
  set_sensitive(bar.next_button, next_offered());
  if (stop.report.lost) return;
  const StopLocation &at = stop.report.location;
  if (!stop.readable) {
    // The entries show where the CPU last stood, or nothing before any report.
    if (location_known)
      show_place(at);
    else
      show_in_entry(0, ""), show_in_entry(1, "");
    show_in_entry(2, location_known ? at.text : "");
    return;
  }
  location_known = true;
  place_linear = code_segment_base(stop.cpu) + at.eip;
  place_linear_known = true;
  show_place(at);
  show_symbol();
  if (stop.report.scan.stage == instruction_no_text) return;
  show_in_entry(2, at.text);
}
