#include "views/cpu_state_panel.hpp"

#include <cstring>
#include <string>

#include "kit/list_sizer.hpp"
#include "kit/widget_kit.hpp"
#include "views/stack_view.hpp"

static StatePanel P = {};

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

// A register row: its name, then its read-only entry.
static void add_register(GtkWidget *column, RegisterEntry entry, int width) {
  GtkWidget *row = add_hbox(column, 0);
  add_label(row, 1, register_labels[entry], 0);
  P.register_entry[entry] = add_entry(row, 0, width);
  gtk_entry_set_editable(GTK_ENTRY(P.register_entry[entry]), FALSE);
  connect_signal(P.register_entry[entry], "style_set", VUM_SIGNAL_FUNC(keep_marked_colours), NULL);
  keep_marked_colours(P.register_entry[entry], NULL, NULL);
}

static GtkWidget *add_column(GtkWidget *panel) {
  GtkWidget *column = gtk_vbox_new(FALSE, 1);
  gtk_box_pack_start(GTK_BOX(panel), column, FALSE, FALSE, 0);
  gtk_widget_show(column);
  return column;
}

void build_state_panel(GtkWidget *panel) {
  P.box = panel;

  GtkWidget *first = add_column(panel);
  P.stack_label = add_label(first, 1, "Stack", 0);
  static const char *const stack_titles[3] = {"ESP", "Value", "EBP"};
  P.stack_list = add_sized_list(first, 3, stack_titles, 150, 140);
  gtk_clist_column_titles_show(GTK_CLIST(P.stack_list));
  for (RegisterEntry e : {entry_dr0, entry_dr1, entry_dr2, entry_dr3, entry_dr6, entry_dr7})
    add_register(first, e, 85);

  GtkWidget *second = add_column(panel);
  for (int e = entry_eax; e <= entry_esp; e++) add_register(second, (RegisterEntry)e, 85);
  add_filler(second);
  for (int e = entry_tr3; e <= entry_tr7; e++) add_register(second, (RegisterEntry)e, 85);

  GtkWidget *third = add_column(panel);
  add_register(third, entry_eflags, 85);
  add_register(third, entry_eip, 85);
  for (int e = entry_cs; e <= entry_gs; e++) add_register(third, (RegisterEntry)e, 110);
  add_filler(third);
  for (int e = entry_cr0; e <= entry_cr4; e++) add_register(third, (RegisterEntry)e, 85);

  GtkWidget *fourth = add_column(panel);
  add_register(fourth, entry_tr, 110);
  add_register(fourth, entry_ldtr, 110);
  add_register(fourth, entry_gdtr, 140);
  add_register(fourth, entry_idtr, 140);
  static const char *const flag_titles[2] = {"", ""};
  P.flags_list = add_sized_list(fourth, 2, flag_titles, 160, 210);
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
