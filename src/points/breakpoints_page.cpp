#include "points/breakpoints_page.hpp"

#include <cstdio>

#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "link/reply_scan.hpp"
#include "points/point_page.hpp"

Breakpoint breakpoint_table[30];
uint32_t breakpoint_count = 0;
int32_t breakpoint_selected_row = -1;

GtkWidget *breakpoint_list = NULL;
GtkWidget *remove_breakpoint_button = NULL;
GtkWidget *remove_all_breakpoints_button = NULL;
ButtonGroup *breakpoint_kind_group = NULL;
GtkWidget *breakpoint_entry = NULL;
GtkWidget *add_breakpoint_button = NULL;

bool reload_breakpoints = true;

static const char *const kind_names[3] = {"Physical", "Linear", "Virtual"};
static const char *const titles[3] = {"Last Stop", "Type", "Breakpoint"};
static const GtkJustification justifications[3] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                                                   GTK_JUSTIFY_LEFT};
static const char *const kind_labels[3] = {" Physical ", " Linear ", " Virtual "};

static const PointPage page = {
    &breakpoint_list, &remove_breakpoint_button, &remove_all_breakpoints_button,
    &breakpoint_kind_group, &breakpoint_entry, &add_breakpoint_button,
    &breakpoint_selected_row, &breakpoint_count,
    3, titles, justifications, 3, kind_labels, NULL,
    VUM_SIGNAL_FUNC(add_breakpoint), VUM_SIGNAL_FUNC(remove_breakpoint),
    VUM_SIGNAL_FUNC(remove_all_breakpoints), VUM_SIGNAL_FUNC(breakpoint_row_selected),
    VUM_SIGNAL_FUNC(breakpoint_row_unselected),
};

static bool is_live(int i) { return i < 30 && breakpoint_table[i].enabled; }

void build_breakpoints_page(GtkWidget *box) { build_point_page(page, box); }

static void scan_reply(const std::string &text, bool at_prompt) {
  scan_breakpoint_list(text.data(), text.size(), at_prompt, breakpoint_table, &breakpoint_count);
}

void query_breakpoints() { query_point_list(command_info_break, scan_reply); }

static bool breakpoint_cells(int i, const char *out[4], char room[2][18]) {
  if (!is_live(i)) return false;
  const Breakpoint &b = breakpoint_table[i];
  if (b.kind == breakpoint_virtual)
    format_hex(format_hex(room[0], b.segment, 4), b.offset, 8, ':');  // "%.4X:%.8X"
  else
    format_hex(room[0], b.offset, 8);  // "%.8X"
  out[0] = "";
  out[1] = b.kind < 3 ? kind_names[b.kind] : "";
  out[2] = room[0];
  return true;
}

void refresh_breakpoints(bool skip_query) {
  if (debugger_offline) return;
  if (!skip_query) query_breakpoints();
  fill_point_list(page, breakpoint_cells);
}

void add_breakpoint(GtkWidget *, gpointer refresh) {
  uint32_t kind = breakpoint_kind_group->selected;
  if (kind >= 3) return;
  add_point(page, breakpoint_commands[kind]);
  if (GPOINTER_TO_INT(refresh)) refresh_breakpoints(false);
  gtk_entry_set_text(GTK_ENTRY(breakpoint_entry), "");
}

void remove_breakpoint(GtkWidget *, gpointer) {
  int32_t row = breakpoint_selected_row;
  if (row < 0 || !is_live(row)) return;
  send_command(format_delete_breakpoint, breakpoint_table[row].number);
  wait_for_prompt();
  refresh_breakpoints(false);
}

void remove_all_breakpoints(GtkWidget *, gpointer) {
  // Entry 0 is deleted and the list read again until it is gone; a debugger
  // that will not delete it gets 30 tries a click.
  for (int sent = 0; sent < 30 && is_live(0); sent++) {
    send_command(format_delete_breakpoint, breakpoint_table[0].number);
    wait_for_prompt();
    refresh_breakpoints(false);
  }
}

void breakpoint_row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer) {
  select_point_row(page, row);
}

void breakpoint_row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer) {
  unselect_point_row(page);
}

void set_breakpoints_sensitive(bool on) { set_point_page_sensitive(page, on); }

void reload_breakpoints_now() {
  if (reload_breakpoints) {
    for (int i = 0; is_live(i); i++) {
      const Breakpoint &b = breakpoint_table[i];
      if (b.kind >= 3) continue;
      // Room for any segment the list may have shown, so that a reloaded
      // address is never cut short.
      char text[24];
      if (b.kind == breakpoint_virtual)
        snprintf(text, sizeof text, "0x%.4X:0x%.8X", b.segment, b.offset);
      else
        snprintf(text, sizeof text, "0x%.8X", b.offset);
      reload_point(page, breakpoint_commands[b.kind], text);
    }
  }
  refresh_breakpoints(false);
}

void mark_breakpoint_hit(uint32_t number) {
  for (int i = 0; is_live(i); i++)
    if (breakpoint_table[i].number == number) {
      mark_point_row(page, i);
      return;
    }
}
