#include "code/code_page.hpp"

#include <gdk/gdkkeysyms.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "exec/control_bar.hpp"
#include "link/debugger_child.hpp"
#include "text/address.hpp"
#include "text/cpu_mode.hpp"
#include "text/debugger_commands.hpp"
#include "text/reply_scan.hpp"
#include "text/symbols.hpp"

CodeEvents code_events = {};

namespace {

CodePage P = {};
ListSizer sizer;

enum Column { column_break, column_current, column_physical, column_virtual, column_bytes,
              column_instruction, column_symbol, columns };
const char *const titles[columns] = {"", "", "Physical", "Virtual", "Bytes", "Instruction", "Symbol"};
const char *const kind_labels[2] = {" Linear ", " Physical "};
enum Kind { kind_linear = 0, kind_physical = 1 };

// The margin's marks, and the colours of the rows they mark.
const char *const breakpoint_mark = "\u25cf";  // a black circle
const char *const current_mark = "\u25b6";     // a black right-pointing triangle
const GdkColor breakpoint_colour = {0, 0xc000, 0x0000, 0x0000};
const GdkColor current_colour = {0, 0x0000, 0x0000, 0xc000};

void message(const char *text) {
  if (code_events.message) code_events.message(text);
}

void show_message(const char *text) {
  if (P.message_label) gtk_label_set_text(GTK_LABEL(P.message_label), text);
}

bool page_shown() { return P.box != NULL && GTK_WIDGET_MAPPED(P.box); }

// The linear address of the current instruction: the code segment's base
// plus EIP.
uint32_t current_linear() { return code_segment_base(P.cpu) + P.at.eip; }

// ---------------------------------------------------------------------------
// The breakpoints of the debugger's list, matched to the rows.

void read_breakpoints() {
  std::string text;
  bool at_prompt = exchange(&text, "%s", command_info_break);
  scan_breakpoint_list(text.data(), text.size(), at_prompt, P.breakpoints, &P.breakpoint_count);
}

bool live(int i) { return i < point_table_size && P.breakpoints[i].enabled; }

// True when breakpoint b stops at the row's instruction.
bool breakpoint_at(const Breakpoint &b, const CodeRow &row) {
  switch (b.kind) {
    case breakpoint_physical:
      return row.physical_known && b.offset == row.physical;
    case breakpoint_linear:
      return b.offset == row.line.address;
    case breakpoint_virtual: {
      if (!P.stop_known) return false;
      CpuMode mode = cpu_mode(P.cpu);
      if (mode == CpuMode::real || mode == CpuMode::virtual8086)
        return ((b.segment & 0xffffu) << 4) + b.offset == row.line.address;
      return b.segment == P.cpu.cs.selector && code_segment_base(P.cpu) + b.offset == row.line.address;
    }
  }
  return false;
}

void mark_breakpoints() {
  for (CodeRow &row : P.rows) {
    row.breakpoint = false;
    for (int i = 0; live(i); i++)
      if (breakpoint_at(P.breakpoints[i], row)) {
        row.breakpoint = true;
        row.breakpoint_number = P.breakpoints[i].number;
        break;
      }
  }
}

// ---------------------------------------------------------------------------
// Drawing.

void update_buttons() {
  bool on = P.sensitive;
  bool row = P.selected_row >= 0 && P.selected_row < (int32_t)P.rows.size();
  if (P.list == NULL) return;
  gtk_widget_set_sensitive(P.list, on);
  gtk_widget_set_sensitive(P.toggle_button, on && row);
  gtk_widget_set_sensitive(P.run_to_button, on && run_to_here_possible());
  gtk_widget_set_sensitive(P.current_button, on && P.stop_known);
  gtk_widget_set_sensitive(P.entry, on);
  gtk_widget_set_sensitive(P.go_to_button, on);
}

void show_symbol_count() {
  char text[64];
  size_t n = symbol_count();
  if (n == 0)
    snprintf(text, sizeof text, "No symbols");
  else
    snprintf(text, sizeof text, "%zu symbol%s", n, n == 1 ? "" : "s");
  gtk_label_set_text(GTK_LABEL(P.symbols_label), text);
}

// The row a new listing keeps in view (the current instruction, or the row
// asked for). A page just shown is laid out after it is mapped, and a
// window may change its size: the list is scrolled again whenever it gets a
// new size while the row is not wholly in view, and once the main loop is
// idle after the listing is drawn.
int row_in_view = -1;
bool idle_scroll_waiting = false;

void bring_row_into_view() {
  if (P.list == NULL || row_in_view < 0 || row_in_view >= GTK_CLIST(P.list)->rows) return;
  if (gtk_clist_row_is_visible(GTK_CLIST(P.list), row_in_view) != GTK_VISIBILITY_FULL)
    gtk_clist_moveto(GTK_CLIST(P.list), row_in_view, -1, 0.3f, 0.0f);
}

gboolean idle_scroll(gpointer) {
  idle_scroll_waiting = false;
  bring_row_into_view();
  return FALSE;
}

void list_resized(GtkWidget *, GtkAllocation *, gpointer) { bring_row_into_view(); }

void scroll_to(int row) {
  row_in_view = row;
  gtk_clist_moveto(GTK_CLIST(P.list), row, -1, 0.3f, 0.0f);
  if (!idle_scroll_waiting) g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, idle_scroll, NULL, NULL);
  idle_scroll_waiting = true;
}

// Draws the rows as they are. A new listing selects the current
// instruction (else the row the listing is around) and brings it into view;
// a redraw of the marks keeps the selection and the scrolling.
void draw_rows(bool new_listing) {
  int32_t kept = P.selected_row;
  if (P.list == NULL) return;
  GtkCList *list = GTK_CLIST(P.list);
  gtk_clist_freeze(list);
  sizer.begin(P.rows.size());
  int chosen = -1;
  for (size_t i = 0; i < P.rows.size(); i++) {
    const CodeRow &row = P.rows[i];
    char physical[12] = "", place[24] = "", symbol[160] = "";
    if (row.physical_known) format_hex(physical, row.physical, 8);
    if (row.offset_known) format_hex(format_hex(place, P.cpu.cs.selector & 0xffffu, 4), row.offset, 8, ':');
    if (!symbol_at(row.line.address, symbol, sizeof symbol)) g_strlcpy(symbol, row.line.symbol, sizeof symbol);
    const char *cells[columns] = {row.breakpoint ? breakpoint_mark : "", row.current ? current_mark : "",
                                  physical, place, row.line.bytes, row.line.text, symbol};
    sizer.add(cells, row.current ? &current_colour : row.breakpoint ? &breakpoint_colour : NULL);
    if (row.current || (chosen < 0 && row.line.address == P.target)) chosen = (int)i;
  }
  sizer.finish();
  gtk_clist_thaw(list);
  P.selected_row = -1;
  if (!new_listing) {
    if (kept >= 0 && kept < (int32_t)P.rows.size()) gtk_clist_select_row(list, kept, 0);
  } else if (chosen >= 0) {
    gtk_clist_select_row(list, chosen, 0);
    scroll_to(chosen);
  } else {
    row_in_view = -1;
  }
  update_buttons();
}

// ---------------------------------------------------------------------------
// Reading the listing.

CodeRow make_row(const DisasmLine &line) {
  CodeRow row = {};
  row.line = line;
  uint32_t eip_linear = current_linear();
  if (!P.stop_known || !paging_on(P.cpu)) {
    row.physical_known = true;
    row.physical = line.address;
  } else if ((line.address & ~0xfffu) == (eip_linear & ~0xfffu)) {
    // With paging on, only the page of the current instruction is known.
    row.physical_known = true;
    row.physical = P.at.physical_address - eip_linear + line.address;
  }
  if (P.stop_known) {
    uint32_t base = code_segment_base(P.cpu);
    uint32_t offset = line.address - base;
    if (line.address >= base && (!code_is_16bit(P.cpu) || offset <= 0xffffu)) {
      row.offset_known = true;
      row.offset = offset;
    }
    row.current = line.address == eip_linear;
  }
  return row;
}

bool disassemble(uint32_t count, uint32_t start, DisasmReply *reply) {
  std::string text;
  bool complete = exchange(&text, format_disassemble, count, start);
  scan_disasm_reply(text, reply);
  return complete;
}

// Reads the listing around P.target: the instructions before it (see
// BackScan), the one there and those after it; then the breakpoints.
void read_listing() {
  P.stale = false;
  uint32_t floor = P.follow && P.stop_known ? code_segment_base(P.cpu) : 0;
  BackScan scan(P.target, floor);
  uint32_t start;
  DisasmReply reply;
  bool complete = true;
  while (complete && scan.next_start(&start)) {
    complete = disassemble(back_scan_lines, start, &reply);
    scan.take(start, reply);
  }
  std::vector<DisasmLine> lines = scan.lines_before();
  std::vector<DisasmLine> after = scan.lines_from_target();
  const char *problem = "";
  if (complete && after.size() < lines_after_target + 1) {
    complete = disassemble(lines_after_target + 1, P.target, &reply);
    after = reply.lines;
    if (!after.empty() && after[0].address != P.target) after.clear();
    if (reply.error && after.empty()) problem = reply.error_text;
  }
  if (after.size() > lines_after_target + 1) after.resize(lines_after_target + 1);
  lines.insert(lines.end(), after.begin(), after.end());
  P.rows.clear();
  for (const DisasmLine &line : lines) P.rows.push_back(make_row(line));
  if (complete) read_breakpoints();
  mark_breakpoints();
  draw_rows(true);
  // What the debugger said when nothing could be read there; nothing when
  // the listing came.
  char text[200] = "";
  if (problem[0] != '\0') snprintf(text, sizeof text, "At %08X: %s", P.target, problem);
  show_message(text);
}

// Reads the listing now when the page is shown and the debugger waits;
// otherwise when it is next shown (or the debugger next waits).
void refresh_listing() {
  if (!page_shown() || !debugger_waits() || (P.follow && !P.stop_known)) {
    P.stale = true;
    return;
  }
  read_listing();
}

// Shown again: the listing when something new came meanwhile, and the
// breakpoints in any case (they may have been set or deleted on another page).
void page_mapped(GtkWidget *, gpointer) {
  if (P.stale) {
    refresh_listing();
  } else if (debugger_waits() && !P.rows.empty()) {
    read_breakpoints();
    mark_breakpoints();
    draw_rows(false);
  }
}

// After a stop the listing is read once the main loop is idle, when run
// control has finished with the stop (a Next deletes its own breakpoint only
// after the pages heard of the stop, and it would show in the margin).
gboolean read_waiting_listing(gpointer) {
  P.listing_waiting = false;
  if (P.stale) refresh_listing();
  return FALSE;
}

// ---------------------------------------------------------------------------
// Handlers.

void row_selected(GtkWidget *, gint row, gint, GdkEvent *, gpointer) {
  P.selected_row = row;
  update_buttons();
}

void row_unselected(GtkWidget *, gint, gint, GdkEvent *, gpointer) {
  P.selected_row = -1;
  update_buttons();
}

gboolean list_pressed(GtkWidget *widget, GdkEventButton *event, gpointer) {
  if (event->type != GDK_2BUTTON_PRESS || event->button != 1) return FALSE;
  GtkCList *list = GTK_CLIST(widget);
  if (event->window != list->clist_window) return FALSE;
  gint row = -1, column = -1;
  if (!gtk_clist_get_selection_info(list, (gint)event->x, (gint)event->y, &row, &column)) return FALSE;
  toggle_breakpoint_at(row);
  return TRUE;
}

void toggle_clicked(GtkWidget *, gpointer) { toggle_breakpoint_at(P.selected_row); }
void run_to_clicked(GtkWidget *, gpointer) { run_to_here(); }
void current_clicked(GtkWidget *, gpointer) { show_current_instruction(); }

void go_to_clicked(GtkWidget *, gpointer) {
  TypedAddress typed;
  if (!parse_address(gtk_entry_get_text(GTK_ENTRY(P.entry)), AddressForm::plain, symbol_address, &typed)) {
    show_message(typed.message);
    return;
  }
  if (P.kind_group->selected == kind_physical && P.stop_known && paging_on(P.cpu)) {
    show_message("Paging is on: the listing reads linear addresses, so type a linear one");
    return;
  }
  show_code_at(typed.offset);
}

}  // namespace

CodePage &code_page() { return P; }

GtkWidget *code_run_to_button() { return P.run_to_button; }

void build_code_page(GtkWidget *box) {
  P.box = box;
  P.selected_row = -1;
  P.follow = true;
  P.stale = true;

  GtkWidget *top = add_hbox(box, 0);
  P.toggle_button = add_button(top, 0, " Toggle Breakpoint ");
  connect_signal(P.toggle_button, "clicked", VUM_SIGNAL_FUNC(toggle_clicked), NULL);
  P.run_to_button = add_button(top, 0, " Run to Here ");
  connect_signal(P.run_to_button, "clicked", VUM_SIGNAL_FUNC(run_to_clicked), NULL);
  P.current_button = add_button(top, 0, " Current Instruction ");
  connect_signal(P.current_button, "clicked", VUM_SIGNAL_FUNC(current_clicked), NULL);
  add_filler(top);
  P.symbols_label = add_label(top, 0, "", 0);
  show_symbol_count();

  P.list = add_list(box, columns, titles);
  GtkCList *list = GTK_CLIST(P.list);
  gtk_clist_column_titles_show(list);
  gtk_clist_column_titles_passive(list);
  gtk_clist_set_column_justification(list, column_break, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, column_current, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, column_physical, GTK_JUSTIFY_CENTER);
  gtk_clist_set_column_justification(list, column_virtual, GTK_JUSTIFY_CENTER);
  sizer.attach(P.list, ListSizer::Measure::exact);
  connect_signal(P.list, "select_row", VUM_SIGNAL_FUNC(row_selected), NULL);
  connect_signal(P.list, "unselect_row", VUM_SIGNAL_FUNC(row_unselected), NULL);
  connect_signal(P.list, "button_press_event", VUM_SIGNAL_FUNC(list_pressed), NULL);
  connect_signal(P.list, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &P.list);
  g_signal_connect_after(P.list, "size_allocate", G_CALLBACK(list_resized), NULL);

  GtkWidget *bottom = add_hbox(box, 0);
  add_label(bottom, 0, "Go to address:", 0);
  P.entry = add_entry(bottom, 0, 145);
  connect_signal(P.entry, "activate", VUM_SIGNAL_FUNC(go_to_clicked), NULL);
  P.kind_group = add_button_group(bottom, 0, 0, 2, kind_labels);
  P.go_to_button = add_button(bottom, 0, " Go to ");
  connect_signal(P.go_to_button, "clicked", VUM_SIGNAL_FUNC(go_to_clicked), NULL);
  P.message_label = add_label(bottom, 1, "", 0);
  gtk_misc_set_alignment(GTK_MISC(P.message_label), 0.0f, 0.5f);
  connect_signal(P.message_label, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &P.message_label);

  // F9 toggles a breakpoint on the selected row while the page is shown (an
  // accelerator of a button that cannot be seen does nothing).
  GtkWidget *window = gtk_widget_get_toplevel(box);
  if (GTK_IS_WINDOW(window)) {
    GtkAccelGroup *keys = gtk_accel_group_new();
    gtk_window_add_accel_group(GTK_WINDOW(window), keys);
    gtk_widget_add_accelerator(P.toggle_button, "clicked", keys, GDK_F9, (GdkModifierType)0, GTK_ACCEL_VISIBLE);
    g_object_unref(keys);
  }
  gtk_widget_set_tooltip_text(P.toggle_button, "Set or delete a breakpoint on the selected row (F9, or a double-click)");
  gtk_widget_set_tooltip_text(P.run_to_button, "Run until the selected row is reached, or something else stops the target");

  connect_signal(box, "map", VUM_SIGNAL_FUNC(page_mapped), NULL);
  update_buttons();
}

void code_page_after_build() {
  std::string text;
  while (take_symbol_message(&text)) message(text.c_str());
  show_symbol_count();
  control_bar_symbols_changed();
}

void set_code_page_sensitive(bool on) {
  P.sensitive = on;
  update_buttons();
}

void code_page_starting() {
  P.run_to_pending = false;
  P.stop_known = false;
  P.follow = true;
  P.rows.clear();
  P.breakpoint_count = 0;
  draw_rows(true);
  show_message("");
}

void code_page_stopped(const Stop &stop) {
  if (stop.report.lost) {
    P.run_to_pending = false;  // the debugger has gone, and its breakpoints with it
    return;
  }
  if (P.run_to_pending && debugger_waits()) {
    std::string reply;
    exchange(&reply, format_delete_breakpoint, P.run_to_number);
    P.run_to_pending = false;
  }
  if (!stop.readable) return;
  P.at = stop.report.location;
  P.cpu = stop.cpu;
  P.stop_known = true;
  P.follow = true;
  P.target = current_linear();
  P.stale = true;
  if (!P.listing_waiting) g_idle_add_full(G_PRIORITY_HIGH_IDLE, read_waiting_listing, NULL, NULL);
  P.listing_waiting = true;
  update_buttons();
}

void load_symbols_file(const char *path) {
  std::string report = describe_symbol_load(path, load_symbols(path, 0));
  g_print("VUM: %s\n", report.c_str());
  message(report.c_str());
  if (P.list != NULL) {
    show_symbol_count();
    draw_rows(false);
  }
  control_bar_symbols_changed();
  if (code_events.symbols_changed) code_events.symbols_changed();
}

bool code_page_own_breakpoint(uint32_t number) { return P.run_to_pending && P.run_to_number == number; }

bool run_to_here_possible() {
  return debugger_waits() && !P.run_to_pending && P.selected_row >= 0 && P.selected_row < (int32_t)P.rows.size();
}

void run_to_here() {
  if (!run_to_here_possible()) return;
  const CodeRow row = P.rows[(size_t)P.selected_row];
  if (!row.breakpoint) {
    // A physical breakpoint where the physical address is known, else a
    // linear one; its number is the one the list then shows at that address.
    Breakpoint before[point_table_size];
    memcpy(before, P.breakpoints, sizeof before);
    int kind = row.physical_known ? breakpoint_physical : breakpoint_linear;
    char address[16];
    snprintf(address, sizeof address, "0x%X", row.physical_known ? row.physical : row.line.address);
    std::string reply;
    exchange(&reply, breakpoint_commands[kind], address);
    read_breakpoints();
    bool found = false;
    for (int i = 0; live(i) && !found; i++) {
      const Breakpoint &b = P.breakpoints[i];
      if ((int)b.kind != kind || !breakpoint_at(b, row)) continue;
      bool old = false;
      for (int j = 0; j < point_table_size && before[j].enabled; j++) old = old || before[j].number == b.number;
      if (!old) {
        P.run_to_pending = true;
        P.run_to_number = b.number;
        found = true;
      }
    }
    if (!found) {
      char text[160];
      snprintf(text, sizeof text, "Run to Here: the debugger did not set a breakpoint at %s", address);
      message(text);
      show_message(text);
      return;
    }
  }
  run_go();
}

void toggle_breakpoint_at(int index) {
  if (!debugger_waits() || index < 0 || index >= (int)P.rows.size()) return;
  const CodeRow &row = P.rows[(size_t)index];
  std::string reply;
  if (row.breakpoint) {
    exchange(&reply, format_delete_breakpoint, row.breakpoint_number);
  } else {
    char address[16];
    snprintf(address, sizeof address, "0x%X", row.physical_known ? row.physical : row.line.address);
    exchange(&reply, breakpoint_commands[row.physical_known ? breakpoint_physical : breakpoint_linear], address);
  }
  read_breakpoints();
  mark_breakpoints();
  P.selected_row = index;
  draw_rows(false);
  if (code_events.breakpoints_changed) code_events.breakpoints_changed();
}

void show_code_at(uint32_t linear) {
  P.follow = false;
  P.target = linear;
  show_message("");
  refresh_listing();
}

void show_current_instruction() {
  if (!P.stop_known) return;
  P.follow = true;
  P.target = current_linear();
  show_message("");
  refresh_listing();
}
