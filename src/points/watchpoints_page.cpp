#include "points/watchpoints_page.hpp"

#include <cstdio>
#include <string>

#include "link/debugger_child.hpp"
#include "text/debugger_commands.hpp"
#include "text/reply_scan.hpp"
#include "text/settings.hpp"

namespace {

WatchpointsPage wp = {};

// The list was read from the debugger that runs now: until then (a new
// debugger's first stop, before the reload) the table is the last one's.
bool list_is_current = false;

const char *const kind_names[2] = {"Read", "Write"};
const char *const titles[4] = {"Last Stop", "Type", "Watchpoint", "Value"};
const GtkJustification justifications[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                                            GTK_JUSTIFY_LEFT};
const char *const kind_labels[2] = {" Read ", " Write "};

void add_clicked(GtkWidget *, gpointer refresh);
void remove_clicked(GtkWidget *, gpointer);
void remove_all_clicked(GtkWidget *, gpointer);
void row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer);
void row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer);

const PointPage page = {
    &wp.w, 4, titles, justifications, 2, kind_labels, "Physical address",
    VUM_SIGNAL_FUNC(add_clicked), VUM_SIGNAL_FUNC(remove_clicked), VUM_SIGNAL_FUNC(remove_all_clicked),
    VUM_SIGNAL_FUNC(row_selected), VUM_SIGNAL_FUNC(row_unselected),
};

bool is_live(int i) { return i < point_table_size && wp.table[i].in_use; }

void scan_reply(const std::string &text, bool at_prompt) {
  scan_watchpoint_list(text.data(), text.size(), at_prompt, wp.table, &wp.w.count);
}

bool watchpoint_cells(int i, const char *out[4], char room[2][point_cell_size]) {
  if (!is_live(i)) return false;
  const Watchpoint &w = wp.table[i];
  format_hex(room[0], w.address, 8);                   // "%.8X"
  format_hex(room[1], w.value, w.width == 2 ? 4 : 8);  // "%.4X" or "%.8X"
  out[0] = "";
  out[1] = w.kind < 2 ? kind_names[w.kind] : "";
  out[2] = room[0];
  out[3] = room[1];
  return true;
}

void add_clicked(GtkWidget *, gpointer refresh) {
  uint32_t kind = wp.w.kind_group->selected;
  if (kind >= 2) return;
  if (!add_point(page, watch_commands[kind], AddressForm::plain)) return;
  if (GPOINTER_TO_INT(refresh)) refresh_watchpoints(false);
  gtk_entry_set_text(GTK_ENTRY(wp.w.entry), "");
}

void remove_clicked(GtkWidget *, gpointer) {
  int32_t row = wp.w.selected_row;
  if (row < 0 || !is_live(row)) return;
  const Watchpoint &w = wp.table[row];
  if (w.kind >= 2) return;
  std::string reply;
  exchange(&reply, unwatch_commands[w.kind], w.address);
  refresh_watchpoints(false);
}

void remove_all_clicked(GtkWidget *, gpointer) {
  std::string reply;
  exchange(&reply, "%s", command_unwatch_all);
  refresh_watchpoints(false);
}

void row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer) { select_point_row(page, row); }
void row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer) { unselect_point_row(page); }

}  // namespace

WatchpointsPage &watchpoints_page() { return wp; }

void build_watchpoints_page(GtkWidget *box) {
  build_point_page(page, box);
}

void refresh_watchpoints(bool skip_query) {
  if (!debugger_online()) return;
  if (!skip_query) query_point_list(command_watch_list, scan_reply);
  fill_point_list(page, watchpoint_cells);
}

void set_watchpoints_sensitive(bool on) { set_point_page_sensitive(page, on); }

void reload_watchpoints_now() {
  if (settings.reload_watchpoints) {
    for (int i = 0; is_live(i); i++) {
      const Watchpoint &w = wp.table[i];
      if (w.kind >= 2) continue;
      char text[18];
      snprintf(text, sizeof text, "0x%.8X", w.address);
      reload_point(page, watch_commands[w.kind], text);
    }
  }
  refresh_watchpoints(false);
  list_is_current = true;
}

void watchpoints_starting() { list_is_current = false; }

void watchpoints_stopped(const Stop &stop) {
  // The values the list shows are read again: the guest may have written them.
  if (!stop.report.lost && list_is_current && is_live(0)) refresh_watchpoints(false);
}

void watchpoints_hit(const Stop &stop) {
  const StopLine &line = stop.report.stop;
  if (line.kind != stop_line_watchpoint) return;
  refresh_watchpoints(true);
  mark_watchpoint_hit(line.read_watch ? watchpoint_read : watchpoint_write, line.address);
}

void mark_watchpoint_hit(WatchpointKind kind, uint32_t address) {
  for (int i = 0; is_live(i); i++)
    if (wp.table[i].kind == kind && wp.table[i].address == address) {
      mark_point_row(page, i);
      return;
    }
}
