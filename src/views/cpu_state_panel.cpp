#include "views/cpu_state_panel.hpp"

#include <cstring>
#include <string>

#include <gdk/gdkkeysyms.h>

#include "kit/list_sizer.hpp"
#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "text/debugger_commands.hpp"
#include "text/typed_value.hpp"
#include "views/stack_view.hpp"

static StatePanel P = {};
StatePanelEvents state_panel_events = {};

StatePanel &state_panel() { return P; }

// The registers as they were at the previous stop, while there was one.
static CpuState state_at_previous_stop;
static bool have_previous_stop = false;
static bool have_this_stop = false;

static void note_new_stop() {
  state_at_previous_stop = P.cpu;
  have_previous_stop = have_this_stop;
  have_this_stop = true;
  note_stack_stop();
}

void state_panel_starting() {
  have_previous_stop = false;
  have_this_stop = false;
  forget_stack_stops();
}

// EIP moves at every stop and EFLAGS is shown bit by bit in the flags list:
// neither entry is marked.
static bool markable(int entry) { return entry != entry_eip && entry != entry_eflags; }

// A marked entry is drawn in a state of its own whose text colour is the
// colour of what changed and whose base is the normal one. Changing a
// widget's state only draws it again; changing its style (as
// gtk_widget_modify_text does) would copy the style and lay the whole
// window out anew at every stop that moves a mark.
static const GtkStateType marked_state = GTK_STATE_ACTIVE;

bool entry_marked(GtkWidget *entry) {
  return GTK_WIDGET_STATE(entry) == marked_state &&
         gdk_color_equal(&entry->style->text[marked_state], &changed_colour) &&
         gdk_color_equal(&entry->style->base[marked_state], &entry->style->base[GTK_STATE_NORMAL]);
}

static void mark_entry(GtkWidget *entry, bool changed) {
  GtkStateType state = changed ? marked_state : GTK_STATE_NORMAL;
  if (GTK_WIDGET_STATE(entry) != state) gtk_widget_set_state(entry, state);
}

// The marked state's colours follow the style (a theme may change it): the
// base of a normal entry, the text in the colour of what changed.
static void keep_marked_colours(GtkWidget *entry, GtkStyle *, gpointer) {
  GtkStyle *style = entry->style;
  if (!gdk_color_equal(&style->base[marked_state], &style->base[GTK_STATE_NORMAL])) {
    GdkColor base = style->base[GTK_STATE_NORMAL];
    gtk_widget_modify_base(entry, marked_state, &base);
  }
  if (!gdk_color_equal(&entry->style->text[marked_state], &changed_colour))
    gtk_widget_modify_text(entry, marked_state, &changed_colour);
}

bool row_marked(GtkWidget *list, int row) {
  GList *node = g_list_nth(GTK_CLIST(list)->row_list, (guint)row);
  return node != NULL && GTK_CLIST_ROW(node)->fg_set;
}

// A register that the debugger can set has an editable entry: Enter sets it
// through the debugger and shows the value read back; any other entry is
// read-only. A refusal (of the text, or by the debugger) shows its message
// under the registers and keeps the text for correction.
static void say(const char *text) {
  if (strcmp(gtk_label_get_text(GTK_LABEL(P.message)), text) != 0) gtk_label_set_text(GTK_LABEL(P.message), text);
}

static void show_registers();

static void register_entered(GtkWidget *widget, gpointer data) {
  const RegisterEntry entry = (RegisterEntry)GPOINTER_TO_INT(data);
  char message[address_message_size];
  if (!debugger_waits()) {
    say("Registers can be set only while the target is stopped");
    return;
  }
  uint32_t value;
  if (!parse_register_value(entry, gtk_entry_get_text(GTK_ENTRY(widget)), &value, message)) {
    say(message);
    return;
  }
  std::string reply;
  exchange(&reply, format_set_register, settable_register(entry), value);
  if (setting_refused(reply, message)) {
    say(message);
    return;
  }
  say("");
  // What the debugger holds now is what the panel shows: read back.
  read_registers(&P.cpu);
  show_registers();
  if (entry == entry_esp || entry == entry_ebp) refresh_stack();
  if (state_panel_events.register_set) state_panel_events.register_set(entry);
}

// Escape puts back the value last read.
static gboolean register_key(GtkWidget *widget, GdkEventKey *event, gpointer data) {
  if (event->keyval != GDK_Escape) return FALSE;
  char text[32];
  format_register(text, P.cpu, (RegisterEntry)GPOINTER_TO_INT(data));
  gtk_entry_set_text(GTK_ENTRY(widget), text);
  say("");
  return TRUE;
}

// The widest text each entry shows, in characters.
static int register_chars(RegisterEntry entry) {
  switch (entry) {
    case entry_cs: case entry_ss: case entry_ds: case entry_es: case entry_fs: case entry_gs:
    case entry_tr: case entry_ldtr:
      return 13;  // "0000  invalid"
    case entry_gdtr: case entry_idtr:
      return 17;  // "00000000  (0FFFF)"
    default:
      return 8;
  }
}

// A register row: its name, then its entry, wide enough for its value in
// the monospace font.
static void add_register(GtkWidget *column, RegisterEntry entry) {
  GtkWidget *row = add_hbox(column, 0);
  add_label(row, 1, register_labels[entry], 0);
  GtkWidget *e = P.register_entry[entry] = add_entry(row, 0, 0);
  use_monospace(e);
  fit_entry(e, register_chars(entry));
  const bool settable = settable_register(entry) != NULL;
  gtk_entry_set_editable(GTK_ENTRY(e), settable ? TRUE : FALSE);
  if (settable) {
    connect_signal(e, "activate", VUM_SIGNAL_FUNC(register_entered), GINT_TO_POINTER(entry));
    connect_signal(e, "key_press_event", VUM_SIGNAL_FUNC(register_key), GINT_TO_POINTER(entry));
    gtk_widget_set_tooltip_text(e, "Type a value and press Enter to set the register (Escape puts it back)");
  }
  connect_signal(e, "style_set", VUM_SIGNAL_FUNC(keep_marked_colours), NULL);
  keep_marked_colours(e, NULL, NULL);
}

static GtkWidget *add_column(GtkWidget *panel) {
  GtkWidget *column = gtk_vbox_new(FALSE, 1);
  gtk_box_pack_start(GTK_BOX(panel), column, FALSE, FALSE, 0);
  gtk_widget_show(column);
  return column;
}

void build_state_panel(GtkWidget *panel) {
  P.box = panel;
  GtkWidget *rows = gtk_vbox_new(FALSE, 2);
  gtk_box_pack_start(GTK_BOX(panel), rows, TRUE, TRUE, 0);
  gtk_widget_show(rows);
  GtkWidget *columns = P.columns = gtk_hbox_new(FALSE, 12);
  gtk_box_pack_start(GTK_BOX(rows), columns, FALSE, FALSE, 0);
  gtk_widget_show(columns);
  P.message = add_label(rows, 0, "", 0);
  gtk_misc_set_alignment(GTK_MISC(P.message), 0, 0.5);

  // The stack (at least 13 rows, its three columns) above the debug registers.
  GtkWidget *first = add_column(columns);
  P.stack_label = add_label(first, 0, "Stack", 0);
  // As wide as its longest title, whatever it shows: a new title lays
  // nothing out again, and the text is placed by its own width. Placed by
  // the width asked for before, it was drawn off its place (and left half
  // drawn over) when the stack list, scrolled in the same stop, had the
  // window drawn before it was laid out again.
  gtk_label_set_width_chars(GTK_LABEL(P.stack_label),
                            (gint)MAX(strlen(stack_title_wide), strlen(stack_title_narrow)));
  static const char *const stack_titles[3] = {"ESP", "Value", "EBP"};
  P.stack_list = add_sized_list(first, 3, stack_titles, 150, 140);
  gtk_clist_column_titles_show(GTK_CLIST(P.stack_list));
  static const int stack_chars[3] = {6, 8, 6};  // "+1000", "FFFF0000", "-1000"
  fit_list(P.stack_list, stack_rows_shown, stack_chars);
  for (RegisterEntry e : {entry_dr0, entry_dr1, entry_dr2, entry_dr3, entry_dr6, entry_dr7}) add_register(first, e);

  GtkWidget *second = add_column(columns);
  for (int e = entry_eax; e <= entry_esp; e++) add_register(second, (RegisterEntry)e);
  add_filler(second);
  for (int e = entry_tr3; e <= entry_tr7; e++) add_register(second, (RegisterEntry)e);

  GtkWidget *third = add_column(columns);
  add_register(third, entry_eflags);
  add_register(third, entry_eip);
  for (int e = entry_cs; e <= entry_gs; e++) add_register(third, (RegisterEntry)e);
  add_filler(third);
  for (int e = entry_cr0; e <= entry_cr4; e++) add_register(third, (RegisterEntry)e);

  GtkWidget *fourth = add_column(columns);
  for (RegisterEntry e : {entry_tr, entry_ldtr, entry_gdtr, entry_idtr}) add_register(fourth, e);

  // Every flag in view, none scrolled away.
  GtkWidget *fifth = add_column(columns);
  static const char *const flag_titles[2] = {"", ""};
  P.flags_list = add_sized_list(fifth, 2, flag_titles, 160, 210);
  static const int flag_chars[2] = {1, 25};  // "Virtual Interrupt Pending"
  fit_list(P.flags_list, eflags_rows, flag_chars);
}

static void show_registers() {
  for (int e = 0; e < register_entries; e++) {
    char text[32], before[32];
    format_register(text, P.cpu, (RegisterEntry)e);
    GtkEntry *entry = GTK_ENTRY(P.register_entry[e]);
    if (strcmp(gtk_entry_get_text(entry), text) != 0) gtk_entry_set_text(entry, text);
    bool changed = false;
    if (have_previous_stop && markable(e)) {
      format_register(before, state_at_previous_stop, (RegisterEntry)e);
      changed = strcmp(text, before) != 0;
    }
    mark_entry(P.register_entry[e], changed);
  }
}

// The flag rows are made once and then rewritten in place: only a row whose
// digit or mark changed is drawn again.
static void show_flags() {
  static ListSizer sizer;
  if (sizer.list() != P.flags_list) sizer.attach(P.flags_list, ListSizer::Measure::by_character);
  int values[eflags_rows], before[eflags_rows];
  eflags_row_values(P.cpu.eflags, values);
  eflags_row_values(state_at_previous_stop.eflags, before);
  GtkCList *list = GTK_CLIST(P.flags_list);
  bool fill = list->rows != eflags_rows;
  if (fill) {
    gtk_clist_freeze(list);
    sizer.begin(eflags_rows);
  }
  for (int r = 0; r < eflags_rows; r++) {
    char digit[2] = {(char)('0' + values[r]), '\0'};
    const char *cells[2] = {digit, eflags_row_names[r]};
    const GdkColor *mark = have_previous_stop && values[r] != before[r] ? &changed_colour : NULL;
    if (fill)
      sizer.add(cells, mark);
    else
      sizer.update_row(r, cells, mark);
  }
  if (fill) {
    sizer.finish();
    gtk_clist_thaw(list);
  }
}

void refresh_stack() { refresh_stack_view(P.cpu, P.stack_label, P.stack_list); }

static void show_state() {
  show_registers();
  show_flags();
  refresh_stack();
}

void state_panel_stopped(const Stop &stop) {
  if (stop.report.lost) return;
  note_new_stop();
  P.cpu = stop.cpu;
  say("");
  if (P.shown) show_state();
}

bool state_panel_shown() { return P.shown; }

void show_state_panel(bool shown) {
  if (shown == P.shown) return;
  P.shown = shown;
  if (!shown) {
    gtk_widget_hide(P.box);
    return;
  }
  gtk_widget_show(P.box);
  read_registers(&P.cpu);
  show_state();
}
