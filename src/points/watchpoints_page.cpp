#include "points/watchpoints_page.hpp"

#include <cstdio>

#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "link/reply_scan.hpp"
#include "points/point_page.hpp"

Watchpoint watchpoint_table[30];
uint32_t watchpoint_count = 0;
int32_t watchpoint_selected_row = -1;

GtkWidget *watchpoint_list = NULL;
GtkWidget *remove_watchpoint_button = NULL;
GtkWidget *remove_all_watchpoints_button = NULL;
ButtonGroup *watchpoint_kind_group = NULL;
GtkWidget *watchpoint_entry = NULL;
GtkWidget *add_watchpoint_button = NULL;

bool reload_watchpoints = true;

static const char *const kind_names[2] = {"Read", "Write"};
static const char *const titles[4] = {"Last Stop", "Type", "Watchpoint", "Value"};
static const GtkJustification justifications[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                                                   GTK_JUSTIFY_CENTER, GTK_JUSTIFY_LEFT};
static const char *const kind_labels[2] = {" Read ", " Write "};

static const PointPage page = {
    &watchpoint_list, &remove_watchpoint_button, &remove_all_watchpoints_button,
    &watchpoint_kind_group, &watchpoint_entry, &add_watchpoint_button,
    &watchpoint_selected_row, &watchpoint_count,
    4, titles, justifications, 2, kind_labels, "Physical address",
    VUM_SIGNAL_FUNC(add_watchpoint), VUM_SIGNAL_FUNC(remove_watchpoint),
    VUM_SIGNAL_FUNC(remove_all_watchpoints), VUM_SIGNAL_FUNC(watchpoint_row_selected),
    VUM_SIGNAL_FUNC(watchpoint_row_unselected),
};

static bool is_live(int i) { return i < 30 && watchpoint_table[i].in_use; }

void build_watchpoints_page(GtkWidget *box) {
  GtkWidget *side = build_point_page(page, box);
  add_label(side, 0, "Bochs 2.0 does not support", 0);
  add_label(side, 0, "remove, it might be supported", 1);
  add_label(side, 0, "in newer versions.", 1);
  add_label(side, 0, "Remove All does work.", 1);
}

static void scan_reply(const std::string &text, bool at_prompt) {
  scan_watchpoint_list(text.data(), text.size(), at_prompt, watchpoint_table, &watchpoint_count);
}

void query_watchpoints() { query_point_list(command_watch_list, scan_reply); }

static bool watchpoint_cells(int i, const char *out[4], char room[2][18]) {
  if (!is_live(i)) return false;
  const Watchpoint &w = watchpoint_table[i];
  format_hex(room[0], w.address, 8);                       // "%.8X"
  format_hex(room[1], w.value, w.width == 2 ? 4 : 8);      // "%.4X" or "%.8X"
  out[0] = "";
  out[1] = w.kind < 2 ? kind_names[w.kind] : "";
  out[2] = room[0];
  out[3] = room[1];
  return true;
}

void refresh_watchpoints(bool skip_query) {
  if (debugger_offline) return;
  if (!skip_query) query_watchpoints();
  fill_point_list(page, watchpoint_cells);
}

void add_watchpoint(GtkWidget *, gpointer refresh) {
  uint32_t kind = watchpoint_kind_group->selected;
  if (kind >= 2) return;
  add_point(page, watch_commands[kind]);
  if (GPOINTER_TO_INT(refresh)) refresh_watchpoints(false);
  gtk_entry_set_text(GTK_ENTRY(watchpoint_entry), "");
}

void remove_watchpoint(GtkWidget *, gpointer) {
  int32_t row = watchpoint_selected_row;
  if (row < 0 || !is_live(row)) return;
  const Watchpoint &w = watchpoint_table[row];
  if (w.kind >= 2) return;
  send_command(unwatch_commands[w.kind], w.address);
  wait_for_prompt();
  refresh_watchpoints(false);
}

void remove_all_watchpoints(GtkWidget *, gpointer) {
  send_command("%s", command_unwatch_all);
  wait_for_prompt();
  refresh_watchpoints(false);
}

void watchpoint_row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer) {
  select_point_row(page, row);
}

void watchpoint_row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer) {
  unselect_point_row(page);
}

void set_watchpoints_sensitive(bool on) { set_point_page_sensitive(page, on); }

void reload_watchpoints_now() {
  if (reload_watchpoints) {
    for (int i = 0; is_live(i); i++) {
      const Watchpoint &w = watchpoint_table[i];
      if (w.kind >= 2) continue;
      char text[18];
      snprintf(text, sizeof text, "0x%.8X", w.address);
      reload_point(page, watch_commands[w.kind], text);
    }
  }
  refresh_watchpoints(false);
}

void mark_watchpoint_hit(WatchpointKind kind, uint32_t address) {
  for (int i = 0; is_live(i); i++)
    if (watchpoint_table[i].kind == kind && watchpoint_table[i].address == address) {
      mark_point_row(page, i);
      return;
    }
}
