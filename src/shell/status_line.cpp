#include "shell/status_line.hpp"

#include <string>

#include "kit/widget_kit.hpp"
#include "text/cpu_mode.hpp"

namespace {

GtkWidget *label = NULL;
std::string last_stop;  // the text of the last readable stop

void show(const std::string &text) {
  if (label != NULL) gtk_label_set_text(GTK_LABEL(label), text.c_str());
}

}  // namespace

GtkWidget *build_status_line(GtkWidget *box) {
  GtkWidget *row = add_hbox(box, 0);
  label = add_label(row, 1, "", 0);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.5f);
  connect_signal(label, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &label);
  return label;
}

GtkWidget *status_line_label() { return label; }

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
