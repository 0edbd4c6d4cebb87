#include "shell/status_line.hpp"

#include <string>

#include "kit/widget_kit.hpp"
#include "text/cpu_mode.hpp"

namespace {

// The line is a read-only entry without a frame, drawn on the window's own
// background: a new text is drawn in place, where a label's would lay the
// whole window out again at every step.
GtkWidget *line = NULL;
std::string last_stop;  // the text of the last readable stop
std::string waiting;    // the text to show once the main loop is idle

void show_waiting() {
  if (line != NULL && waiting != gtk_entry_get_text(GTK_ENTRY(line)))
    gtk_entry_set_text(GTK_ENTRY(line), waiting.c_str());
}

void show(const std::string &text) {
  waiting = text;
  defer_display_update(show_waiting);
}

void take_window_colours(GtkWidget *entry, GtkStyle *, gpointer) {
  GtkStyle *window = gtk_widget_get_style(gtk_widget_get_toplevel(entry));
  GtkStyle *own = gtk_widget_get_style(entry);
  if (window == NULL || own == NULL || gdk_color_equal(&own->base[GTK_STATE_NORMAL], &window->bg[GTK_STATE_NORMAL]))
    return;
  gtk_widget_modify_base(entry, GTK_STATE_NORMAL, &window->bg[GTK_STATE_NORMAL]);
  gtk_widget_modify_text(entry, GTK_STATE_NORMAL, &window->fg[GTK_STATE_NORMAL]);
}

}  // namespace

GtkWidget *build_status_line(GtkWidget *box) {
  GtkWidget *row = add_hbox(box, 0);
  line = gtk_entry_new();
  gtk_entry_set_has_frame(GTK_ENTRY(line), FALSE);
  gtk_editable_set_editable(GTK_EDITABLE(line), FALSE);
  GTK_WIDGET_UNSET_FLAGS(line, GTK_CAN_FOCUS);
  gtk_box_pack_start(GTK_BOX(row), line, TRUE, TRUE, 0);
  gtk_widget_show(line);
  take_window_colours(line, NULL, NULL);
  connect_signal(line, "style_set", VUM_SIGNAL_FUNC(take_window_colours), NULL);
  connect_signal(line, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &line);
  return line;
}

GtkWidget *status_line_widget() { return line; }

std::string status_line_text() {
  flush_display_updates();
  return line != NULL ? gtk_entry_get_text(GTK_ENTRY(line)) : "";
}

void status_line_stopped(const Stop &stop) {
  if (stop.report.lost || !stop.readable) return;
  last_stop = format_status_line(stop.cpu, stop.report.has_ticks, stop.report.ticks);
  show(last_stop);
}

void status_line_running(bool running) { show(running ? "Running" : last_stop); }

void status_line_online(bool online) {
  if (!online) {
    last_stop.clear();
    show("");
  }
}
