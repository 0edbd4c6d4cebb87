#include "points/breakpoints_page.hpp"

#include <cstdio>
#include <string>

#include "link/debugger_child.hpp"
#include "text/debugger_commands.hpp"
#include "text/reply_scan.hpp"
#include "text/settings.hpp"
#include "text/symbol_places.hpp"

namespace {

BreakpointsPage bp = {};

const char *const kind_names[3] = {"Physical", "Linear", "Virtual"};
const char *const titles[3] = {"Last Stop", "Type", "Breakpoint"};
const GtkJustification justifications[3] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER, GTK_JUSTIFY_LEFT};
const char *const kind_labels[3] = {" Physical ", " Linear ", " Virtual "};

void add_clicked(GtkWidget *, gpointer refresh);
void remove_clicked(GtkWidget *, gpointer);
void remove_all_clicked(GtkWidget *, gpointer);
void row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer);
void row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer);

const PointPage page = {
    &bp.w, 3, titles, justifications, 3, kind_labels, NULL,
    VUM_SIGNAL_FUNC(add_clicked), VUM_SIGNAL_FUNC(remove_clicked), VUM_SIGNAL_FUNC(remove_all_clicked),
    VUM_SIGNAL_FUNC(row_selected), VUM_SIGNAL_FUNC(row_unselected),
};

bool is_live(int i) { return i < point_table_size && bp.table[i].enabled; }

void scan_reply(const std::string &text, bool at_prompt) {
  scan_breakpoint_list(text.data(), text.size(), at_prompt, bp.table, &bp.w.count);
}

bool breakpoint_cells(int i, const char *out[4], char room[2][point_cell_size]) {
  if (!is_live(i)) return false;
  const Breakpoint &b = bp.table[i];
  if (b.kind == breakpoint_virtual)
    format_hex(format_hex(room[0], b.segment, 4), b.offset, 8, ':');  // "%.4X:%.8X"
  else
    format_hex(room[0], b.offset, 8);  // "%.8X"
  append_breakpoint_symbol(b, room[0], point_cell_size);  // " <name+0x1f>" where a symbol names it
  out[0] = "";
  out[1] = b.kind < 3 ? kind_names[b.kind] : "";
  out[2] = room[0];
  return true;
}

void add_clicked(GtkWidget *, gpointer refresh) {
  uint32_t kind = bp.w.kind_group->selected;
  if (kind >= 3) return;
  if (!add_point(page, breakpoint_commands[kind],
                 kind == breakpoint_virtual ? AddressForm::segmented : AddressForm::plain))
    return;
  if (GPOINTER_TO_INT(refresh)) refresh_breakpoints(false);
  gtk_entry_set_text(GTK_ENTRY(bp.w.entry), "");
}

void remove_clicked(GtkWidget *, gpointer) {
  int32_t row = bp.w.selected_row;
  if (row < 0 || !is_live(row)) return;
  std::string reply;
  exchange(&reply, format_delete_breakpoint, bp.table[row].number);
  refresh_breakpoints(false);
}

void remove_all_clicked(GtkWidget *, gpointer) {
  // Entry 0 is deleted and the list read again until it is gone; a debugger
  // that will not delete it gets 30 tries a click.
  for (int sent = 0; sent < 30 && is_live(0); sent++) {
    std::string reply;
    exchange(&reply, format_delete_breakpoint, bp.table[0].number);
    refresh_breakpoints(false);
  }
}

void row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer) { select_point_row(page, row); }
void row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer) { unselect_point_row(page); }

}  // namespace

BreakpointsPage &breakpoints_page() { return bp; }

void build_breakpoints_page(GtkWidget *box) { build_point_page(page, box); }

void refresh_breakpoints(bool skip_query) {
  if (!debugger_online()) return;
  if (!skip_query) query_point_list(command_info_break, scan_reply);
  fill_point_list(page, breakpoint_cells);
}

void set_breakpoints_sensitive(bool on) { set_point_page_sensitive(page, on); }

void reload_breakpoints_now() {
  if (settings.reload_breakpoints) {
    for (int i = 0; is_live(i); i++) {
      const Breakpoint &b = bp.table[i];
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

void breakpoints_hit(const Stop &stop) {
  if (stop.report.stop.kind != stop_line_breakpoint) return;
  refresh_breakpoints(true);
  mark_breakpoint_hit(stop.report.stop.number);
}

void mark_breakpoint_hit(uint32_t number) {
  for (int i = 0; is_live(i); i++)
    if (bp.table[i].number == number) {
      mark_point_row(page, i);
      return;
    }
}
