#include "tables/long_read.hpp"

#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"

TablesEvents tables_events = {};

namespace {

LongReadState R = {};

void set_busy(bool busy) {
  if (R.busy == busy) return;
  R.busy = busy;
  if (tables_events.busy) tables_events.busy(busy);
}

void show_progress() {
  if (R.row == NULL || R.row->box == NULL) return;
  std::string text;
  double done = R.job->progress(&text);
  if (done < 0) done = 0;
  if (done > 1) done = 1;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(R.row->bar), done);
  gtk_label_set_text(GTK_LABEL(R.row->label), text.c_str());
  if (!GTK_WIDGET_VISIBLE(R.row->box)) gtk_widget_show(R.row->box);
}

void finish(LongReadEnd how) {
  LongReadJob *job = R.job;
  if (R.source != 0) g_source_remove(R.source);
  R.source = 0;
  if (R.row != NULL && R.row->box != NULL) gtk_widget_hide(R.row->box);
  R.job = NULL;
  R.row = NULL;
  set_busy(false);
  if (job) job->ended(how);
}

// Exchanges for one slice of time; true while the job goes on.
bool run_slice() {
  gint64 until = g_get_monotonic_time() + long_read_slice_ms * 1000;
  do {
    if (!debugger_waits()) {
      finish(LongReadEnd::cut);
      return false;
    }
    std::string command;
    if (!R.job->next_command(&command)) {
      finish(LongReadEnd::finished);
      return false;
    }
    std::string reply;
    R.exchanges++;
    if (!exchange(&reply, "%s", command.c_str())) {
      finish(LongReadEnd::cut);
      return false;
    }
    R.job->took_reply(reply);
  } while (g_get_monotonic_time() < until);
  return true;
}

gboolean next_slice(gpointer) {
  if (R.job == NULL) {
    R.source = 0;
    return FALSE;
  }
  if (!run_slice()) return FALSE;  // finish() removed the source
  if (g_get_monotonic_time() - R.started >= long_read_patience_ms * 1000) show_progress();
  return TRUE;
}

void cancel_clicked(GtkWidget *, gpointer) { cancel_long_read(); }

}  // namespace

LongReadState &long_read_seam() { return R; }

void build_progress_row(GtkWidget *box, ProgressRow *row) {
  row->box = gtk_hbox_new(FALSE, 5);
  gtk_box_pack_start(GTK_BOX(box), row->box, FALSE, FALSE, 0);  // hidden until a read takes long
  row->bar = gtk_progress_bar_new();
  gtk_box_pack_start(GTK_BOX(row->box), row->bar, TRUE, TRUE, 0);
  gtk_widget_show(row->bar);
  row->label = gtk_label_new("");
  gtk_box_pack_start(GTK_BOX(row->box), row->label, FALSE, FALSE, 0);
  gtk_widget_show(row->label);
  row->cancel_button = gtk_button_new_with_label(" Cancel ");
  gtk_box_pack_start(GTK_BOX(row->box), row->cancel_button, FALSE, FALSE, 0);
  gtk_widget_show(row->cancel_button);
  connect_signal(row->cancel_button, "clicked", VUM_SIGNAL_FUNC(cancel_clicked), NULL);
  connect_signal(row->box, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &row->box);
}

bool start_long_read(LongReadJob *job, ProgressRow *row) {
  if (R.job != NULL || !debugger_waits()) return false;
  R.job = job;
  R.row = row;
  R.started = g_get_monotonic_time();
  R.exchanges = 0;
  if (!run_slice()) return true;
  // The rest runs from the main loop, below the redraws and the events.
  R.source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, next_slice, NULL, NULL);
  set_busy(true);
  return true;
}

bool long_read_running() { return R.job != NULL; }

void cancel_long_read() {
  if (R.job != NULL) finish(LongReadEnd::cancelled);
}
