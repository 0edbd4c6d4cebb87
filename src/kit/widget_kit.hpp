// Small builders that make one widget, pack it, show it and return it, the
// top-level windows, and the button group: a row of toggle buttons of which
// exactly one is pressed.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

// Casts any handler to the toolkit's generic signal function type.
#define VUM_SIGNAL_FUNC(f) ((GtkSignalFunc)(void (*)(void))(f))

// Connects a handler with gtk_signal_connect_full; the result is the id.
uint32_t connect_signal(GtkWidget *widget, const char *signal, GtkSignalFunc func, gpointer data);

// A top-level window: closing it through the window manager destroys it.
GtkWidget *new_top_window(GtkWindowType type, const char *title, int width, int height);
GtkWidget *add_window_box(GtkWidget *window);
gboolean window_delete_event(GtkWidget *widget, GdkEvent *event, gpointer data);

GtkWidget *add_hbox(GtkWidget *box, int expand);
GtkWidget *add_vbox(GtkWidget *box, int expand);
void add_filler(GtkWidget *box);
// Lists are drawn in a monospace font, so that the digits of their
// addresses and values line up.
GtkWidget *add_list(GtkWidget *box, int columns, const char *const titles[]);
GtkWidget *add_sized_list(GtkWidget *box, int columns, const char *const titles[], int width, int height);
GtkWidget *add_label(GtkWidget *box, int expand, const char *text, int wrap);
GtkWidget *add_entry(GtkWidget *box, int expand, int width);
// A read-only text view in a monospace font, in a scrolled window that fills
// the box: the text a page keeps (a console, the guest's output).
GtkWidget *add_text_log(GtkWidget *box);

// Sets the widget's text in a monospace font (entries of addresses and values).
void use_monospace(GtkWidget *widget);

// Sizes a list made by add_list or add_sized_list from its font, now and
// whenever its style changes: wide enough for its columns of `chars[i]`
// characters (or their titles) beside a vertical scroll bar, and tall enough
// for its titles (when shown) and `rows` rows.
void fit_list(GtkWidget *list, int rows, const int chars[]);
// Sizes an entry from its font, now and whenever its style changes: wide
// enough for `chars` characters and its frame.
void fit_entry(GtkWidget *entry, int chars);
GtkWidget *add_button(GtkWidget *box, int expand, const char *label);
GtkWidget *add_check_button(GtkWidget *box, int expand, const char *label, int active);
GtkWidget *add_toggle_button(GtkWidget *box, int expand, const char *label);
void add_separator(GtkWidget *box, int expand, int vertical);

struct ButtonGroup;
typedef void (*ButtonGroupCallback)(ButtonGroup *group);

struct ButtonGroupButton {
  GtkWidget *button;
  uint32_t handler;  // id of its "clicked" connection to button_group_clicked
};

struct ButtonGroup {
  ButtonGroupCallback callback;  // none at creation
  uint32_t selected;             // index of the pressed button
  uint32_t count;                // number of buttons, at least 1
  ButtonGroupButton *buttons;    // `count` entries, allocated with the record
};

ButtonGroup *add_button_group(GtkWidget *box, int expand, int vertical, uint32_t count,
                              const char *const labels[]);
void button_group_select(ButtonGroup *group, uint32_t index);

// Groups made and not yet freed; a group is freed when its box is destroyed.
int button_groups_alive();
void button_group_clicked(GtkWidget *button, ButtonGroup *group);

// Display updates that can wait until the main loop is idle: they run once,
// before the toolkit lays out and redraws, however many changes came first.
// flush_display_updates runs the waiting ones at once.
void defer_display_update(void (*update)());
void flush_display_updates();

// Sets a toggle button's state while its handler (connection `*handler`,
// calling `func` with `data`) does not listen; stores the new connection id.
void set_toggle_quietly(GtkWidget *button, uint32_t *handler, GtkSignalFunc func, gpointer data,
                        gboolean active);
