#include "kit/widget_kit.hpp"

#include <cstdlib>

uint32_t connect_signal(GtkWidget *widget, const char *signal, GtkSignalFunc func, gpointer data) {
  return (uint32_t)gtk_signal_connect_full(GTK_OBJECT(widget), signal, func, NULL, data, NULL, FALSE,
                                           FALSE);
}

GtkWidget *new_top_window(GtkWindowType type, const char *title, int width, int height) {
  GtkWidget *window = gtk_window_new(type);
  connect_signal(window, "delete_event", VUM_SIGNAL_FUNC(window_delete_event), NULL);
  gtk_container_set_border_width(GTK_CONTAINER(window), 5);
  gtk_widget_set_usize(window, width, height);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_widget_show(window);
  return window;
}

GtkWidget *add_window_box(GtkWidget *window) {
  GtkWidget *box = gtk_vbox_new(FALSE, 5);
  gtk_container_add(GTK_CONTAINER(window), box);
  gtk_widget_show(box);
  return box;
}

gboolean window_delete_event(GtkWidget *, GdkEvent *, gpointer) { return FALSE; }

static void pack(GtkWidget *box, GtkWidget *widget, int expand) {
  gtk_box_pack_start(GTK_BOX(box), widget, expand ? TRUE : FALSE, expand ? TRUE : FALSE, 0);
  gtk_widget_show(widget);
}

GtkWidget *add_hbox(GtkWidget *box, int expand) {
  GtkWidget *w = gtk_hbox_new(FALSE, 5);
  pack(box, w, expand);
  return w;
}

GtkWidget *add_vbox(GtkWidget *box, int expand) {
  GtkWidget *w = gtk_vbox_new(FALSE, 5);
  pack(box, w, expand);
  return w;
}

void add_filler(GtkWidget *box) { pack(box, gtk_label_new(""), 1); }

void use_monospace(GtkWidget *widget) {
  static PangoFontDescription *mono = pango_font_description_from_string("Monospace");
  gtk_widget_modify_font(widget, mono);
}

// The widest digit of the widget's font, in pixels (every character of a
// monospace font).
static int char_width(GtkWidget *widget) {
  PangoContext *context = gtk_widget_get_pango_context(widget);
  PangoFontMetrics *metrics =
      pango_context_get_metrics(context, widget->style->font_desc, pango_context_get_language(context));
  int width = PANGO_PIXELS_CEIL(pango_font_metrics_get_approximate_digit_width(metrics));
  pango_font_metrics_unref(metrics);
  return width;
}

namespace {
struct ListFit {
  int rows, columns;
  int chars[8];
};
}  // namespace

// GtkCList's own spacing: a pixel between cells, three inside each side of a
// column, and its frame.
const int clist_cell_spacing = 1, clist_column_inset = 3;

static void size_list(GtkWidget *list, GtkStyle *, ListFit *fit) {
  GtkCList *clist = GTK_CLIST(list);
  const int character = char_width(list);
  int width = 0;
  for (int i = 0; i < fit->columns && i < clist->columns; i++) {
    int cell = fit->chars[i] * character;
    if (GTK_CLIST_SHOW_TITLES(clist) && clist->column[i].button) {
      GtkRequisition title;
      gtk_widget_size_request(clist->column[i].button, &title);
      cell = MAX(cell, title.width - 2 * clist_column_inset - clist_cell_spacing);
    }
    width += cell + 2 * clist_column_inset + clist_cell_spacing;
  }
  int titles = 0;
  if (GTK_CLIST_SHOW_TITLES(clist) && clist->columns > 0 && clist->column[0].button) {
    GtkRequisition title;
    gtk_widget_size_request(clist->column[0].button, &title);
    titles = title.height;
  }
  GtkWidget *scrolled = list->parent;
  GtkWidget *bar = GTK_SCROLLED_WINDOW(scrolled)->vscrollbar;
  GtkRequisition bar_size = {0, 0};
  if (bar) gtk_widget_size_request(bar, &bar_size);
  gint spacing = 0;
  gtk_widget_style_get(scrolled, "scrollbar-spacing", &spacing, NULL);
  const int frame_x = 2 * list->style->xthickness + 2, frame_y = 2 * list->style->ythickness + 2;
  gtk_widget_set_size_request(scrolled, width + frame_x + bar_size.width + spacing,
                              titles + fit->rows * (clist->row_height + clist_cell_spacing) +
                                  clist_cell_spacing + frame_y);
}

static void free_fit(gpointer fit, GClosure *) { g_free(fit); }

void fit_list(GtkWidget *list, int rows, const int chars[]) {
  ListFit *fit = g_new0(ListFit, 1);
  fit->rows = rows;
  fit->columns = MIN(GTK_CLIST(list)->columns, 8);
  for (int i = 0; i < fit->columns; i++) fit->chars[i] = chars[i];
  g_signal_connect_data(list, "style-set", G_CALLBACK(size_list), fit, free_fit, G_CONNECT_AFTER);
  gtk_widget_ensure_style(list);
  size_list(list, NULL, fit);
}

static void size_entry(GtkWidget *entry, GtkStyle *, gpointer chars) {
  // The entry's frame and its inner border, as GtkEntry adds them.
  const int frame = 2 * entry->style->xthickness + 2 * 2 + 2;
  gtk_widget_set_size_request(entry, GPOINTER_TO_INT(chars) * char_width(entry) + frame, 20);
}

void fit_entry(GtkWidget *entry, int chars) {
  g_signal_connect_after(entry, "style-set", G_CALLBACK(size_entry), GINT_TO_POINTER(chars));
  gtk_widget_ensure_style(entry);
  size_entry(entry, NULL, GINT_TO_POINTER(chars));
}

static GtkWidget *make_list(GtkWidget *box, int columns, const char *const titles[], int width,
                            int height) {
  GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
  if (width >= 0) gtk_widget_set_usize(scrolled, width, height);
  gtk_container_set_border_width(GTK_CONTAINER(scrolled), 0);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  pack(box, scrolled, 1);
  GtkWidget *list = gtk_clist_new_with_titles(columns, const_cast<gchar **>(titles));
  for (int i = 0; i < columns; i++) gtk_clist_set_column_auto_resize(GTK_CLIST(list), i, TRUE);
  gtk_clist_set_selection_mode(GTK_CLIST(list), GTK_SELECTION_SINGLE);
  gtk_clist_column_titles_hide(GTK_CLIST(list));
  // Lists hold addresses and values in columns: their digits line up.
  use_monospace(list);
  gtk_container_add(GTK_CONTAINER(scrolled), list);
  gtk_widget_show(list);
  return list;
}

GtkWidget *add_list(GtkWidget *box, int columns, const char *const titles[]) {
  return make_list(box, columns, titles, -1, -1);
}

GtkWidget *add_sized_list(GtkWidget *box, int columns, const char *const titles[], int width,
                          int height) {
  return make_list(box, columns, titles, width, height);
}

GtkWidget *add_label(GtkWidget *box, int expand, const char *text, int wrap) {
  GtkWidget *w = gtk_label_new(text);
  gtk_label_set_line_wrap(GTK_LABEL(w), wrap == 1);
  pack(box, w, expand);
  return w;
}

GtkWidget *add_entry(GtkWidget *box, int expand, int width) {
  GtkWidget *w = gtk_entry_new();
  gtk_widget_set_usize(w, width, 20);
  pack(box, w, expand);
  return w;
}

GtkWidget *add_text_log(GtkWidget *box) {
  GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
  gtk_widget_show(scrolled);
  GtkWidget *view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  use_monospace(view);
  gtk_container_add(GTK_CONTAINER(scrolled), view);
  gtk_widget_show(view);
  return view;
}

GtkWidget *add_button(GtkWidget *box, int expand, const char *label) {
  GtkWidget *w = gtk_button_new_with_label(label);
  gtk_widget_set_usize(w, 0, 20);
  pack(box, w, expand);
  return w;
}

GtkWidget *add_check_button(GtkWidget *box, int expand, const char *label, int active) {
  GtkWidget *w = gtk_check_button_new_with_label(label);
  gtk_widget_set_usize(w, 0, 20);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), active ? TRUE : FALSE);
  pack(box, w, expand);
  return w;
}

GtkWidget *add_toggle_button(GtkWidget *box, int expand, const char *label) {
  GtkWidget *w = gtk_toggle_button_new_with_label(label);
  gtk_widget_set_usize(w, 0, 20);
  pack(box, w, expand);
  return w;
}

void add_separator(GtkWidget *box, int expand, int vertical) {
  pack(box, vertical == 1 ? gtk_vseparator_new() : gtk_hseparator_new(), expand);
}

void set_toggle_quietly(GtkWidget *button, uint32_t *handler, GtkSignalFunc func, gpointer data,
                        gboolean active) {
  gtk_signal_disconnect(GTK_OBJECT(button), *handler);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), active);
  *handler = connect_signal(button, "clicked", func, data);
}

static int groups_alive = 0;

int button_groups_alive() { return groups_alive; }

// A group lives as long as its buttons: when their box is destroyed (the
// window closes) the record goes with it.
static void free_button_group(GtkWidget *, ButtonGroup *group) {
  groups_alive--;
  g_free(group);
}

ButtonGroup *add_button_group(GtkWidget *box, int expand, int vertical, uint32_t count,
                              const char *const labels[]) {
  // The record and its `count` button entries are one allocation; a group
  // of no buttons counts as a failed allocation.
  ButtonGroup *group = NULL;
  if (count > 0)
    group = static_cast<ButtonGroup *>(
        g_try_malloc0(sizeof(ButtonGroup) + (guint64)count * sizeof(ButtonGroupButton)));
  if (group == NULL) {
    g_print("VUM: Couldn't allocate button group.\n");
    exit(1);
  }
  group->buttons = reinterpret_cast<ButtonGroupButton *>(group + 1);
  GtkWidget *inner = vertical == 1 ? gtk_vbox_new(FALSE, 0) : gtk_hbox_new(FALSE, 0);
  pack(box, inner, expand);
  for (uint32_t i = 0; i < count; i++) {
    GtkWidget *b = gtk_toggle_button_new_with_label(labels[i]);
    gtk_widget_set_usize(b, 0, 20);
    pack(inner, b, 1);
    if (i == 0) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(b), TRUE);
    group->buttons[i].button = b;
    group->buttons[i].handler =
        connect_signal(b, "clicked", VUM_SIGNAL_FUNC(button_group_clicked), group);
  }
  group->callback = NULL;
  group->selected = 0;
  group->count = count;
  groups_alive++;
  connect_signal(inner, "destroy", VUM_SIGNAL_FUNC(free_button_group), group);
  return group;
}

static void set_member_quietly(ButtonGroup *group, uint32_t i, gboolean active) {
  set_toggle_quietly(group->buttons[i].button, &group->buttons[i].handler,
                     VUM_SIGNAL_FUNC(button_group_clicked), group, active);
}

void button_group_clicked(GtkWidget *button, ButtonGroup *group) {
  uint32_t i = 0;
  while (i < group->count && group->buttons[i].button != button) i++;
  if (i == group->count) return;
  if (i == group->selected) {
    // The toolkit has just released the pressed button: press it again.
    set_member_quietly(group, i, TRUE);
    return;
  }
  set_member_quietly(group, group->selected, FALSE);
  group->selected = i;
  if (group->callback) group->callback(group);
}

void button_group_select(ButtonGroup *group, uint32_t index) {
  if (index == group->selected || index >= group->count) return;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(group->buttons[index].button), TRUE);
}

namespace {
const int max_display_updates = 8;
void (*waiting_updates[max_display_updates])();
int waiting_count = 0;
guint display_idle = 0;

gboolean run_display_updates(gpointer) {
  display_idle = 0;
  flush_display_updates();
  return FALSE;
}
}  // namespace

void defer_display_update(void (*update)()) {
  for (int i = 0; i < waiting_count; i++)
    if (waiting_updates[i] == update) return;
  if (waiting_count == max_display_updates) {
    update();  // no room to wait: show it now
    return;
  }
  waiting_updates[waiting_count++] = update;
  // Ahead of the toolkit's own layout and redraw, which are idle calls too.
  if (display_idle == 0) display_idle = g_idle_add_full(G_PRIORITY_HIGH_IDLE, run_display_updates, NULL, NULL);
}

void flush_display_updates() {
  while (waiting_count > 0) {
    void (*update)() = waiting_updates[0];
    for (int i = 1; i < waiting_count; i++) waiting_updates[i - 1] = waiting_updates[i];
    waiting_count--;
    update();
  }
  if (display_idle != 0) {
    g_source_remove(display_idle);
    display_idle = 0;
  }
}
