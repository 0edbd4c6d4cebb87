#include "shell/status_line.hpp"

#include <string>

#include "kit/text_line.hpp"
#include "kit/widget_kit.hpp"
#include "text/cpu_mode.hpp"

namespace {

// The line is drawn by the kit's text line: a new tick count redraws the
// few characters that changed, where an entry or a label would lay out and
// draw the whole line again (and a label the whole window) at every step.
GtkWidget *line = NULL;
std::string last_stop;  // the text of the last readable stop
std::string waiting;    // the text to show once the main loop is idle

void show_waiting() {
  if (line != NULL) text_line_set(line, waiting.c_str());
}

void show(const std::string &text) {
  waiting = text;
  defer_display_update(show_waiting);
}

}  // namespace

GtkWidget *build_status_line(GtkWidget *box) {
  GtkWidget *row = add_hbox(box, 0);
  line = add_text_line(row);
  connect_signal(line, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &line);
  return line;
}

GtkWidget *status_line_widget() { return line; }

std::string status_line_text() {
  flush_display_updates();
  return line != NULL ? text_line_get(line) : "";
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
