#include "kit/long_work.hpp"

#include <algorithm>
#include <deque>

LongWorkEvents long_work_events = {};

LongWork::~LongWork() = default;

struct LongWorkRunner {
  std::deque<LongWork *> queue;  // the running work first
  guint idle = 0;
  bool busy = false;

  static gint64 now_ms() { return g_get_monotonic_time() / 1000; }

  void set_busy(bool on) {
    if (busy == on) return;
    busy = on;
    if (long_work_events.busy) long_work_events.busy(on);
  }

  static void cancel_clicked(GtkWidget *, LongWork *work) { cancel_long_work(work); }

  // The bar and Cancel, made when the work has run long enough to show them.
  static void show_progress(LongWork *work) {
    if (work->bar_ == NULL && work->progress_box != NULL) {
      // A box kept hidden until there is progress to show is hidden again after.
      if (!GTK_WIDGET_VISIBLE(work->progress_box)) {
        work->box_shown_ = true;
        gtk_widget_show(work->progress_box);
      }
      GtkWidget *row = gtk_hbox_new(FALSE, 5);
      gtk_box_pack_start(GTK_BOX(work->progress_box), row, TRUE, TRUE, 0);
      work->bar_ = gtk_progress_bar_new();
      gtk_box_pack_start(GTK_BOX(row), work->bar_, TRUE, TRUE, 0);
      work->cancel_ = gtk_button_new_with_label(" Cancel ");
      gtk_widget_set_usize(work->cancel_, 0, 20);
      gtk_box_pack_start(GTK_BOX(row), work->cancel_, FALSE, FALSE, 0);
      g_signal_connect(work->cancel_, "clicked", G_CALLBACK(cancel_clicked), work);
      // The window may go first: the work then forgets its widgets.
      g_signal_connect(work->bar_, "destroy", G_CALLBACK(gtk_widget_destroyed), &work->bar_);
      g_signal_connect(work->cancel_, "destroy", G_CALLBACK(gtk_widget_destroyed), &work->cancel_);
      gtk_widget_show_all(row);
    }
    if (work->bar_ != NULL) {
      double fraction = std::min(1.0, std::max(0.0, work->fraction()));
      char text[16];
      g_snprintf(text, sizeof text, "%d%%", (int)(fraction * 100));
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(work->bar_), fraction);
      gtk_progress_bar_set_text(GTK_PROGRESS_BAR(work->bar_), text);
    }
  }

  static void hide_progress(LongWork *work) {
    if (work->bar_ != NULL) {
      gtk_widget_destroy(gtk_widget_get_parent(work->bar_));
      if (work->box_shown_) gtk_widget_hide(work->progress_box);
    }
    work->bar_ = work->cancel_ = NULL;
  }

  // Ends a work taken out of the queue.
  static void finish(LongWork *work, bool finished) {
    hide_progress(work);
    work->end(finished);
    delete work;
  }

  // Runs steps of the work for about `ms`; false when it has no more.
  static bool run_slice(LongWork *work, int ms) {
    gint64 until = now_ms() + ms;
    do {
      if (!work->step()) return false;
    } while (now_ms() < until);
    return true;
  }

  static gboolean run_queue(gpointer);
  static void start(LongWork *work);

  void schedule() {
    if (idle == 0) idle = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_queue, NULL, NULL);
    set_busy(true);
  }

  void remove(LongWork *work) { queue.erase(std::find(queue.begin(), queue.end(), work)); }

  void after_change() {
    if (!queue.empty()) return;
    if (idle != 0) {
      g_source_remove(idle);
      idle = 0;
    }
    set_busy(false);
  }
};

static LongWorkRunner runner;

gboolean LongWorkRunner::run_queue(gpointer) {
  if (runner.queue.empty()) {
    runner.idle = 0;
    runner.set_busy(false);
    return FALSE;
  }
  LongWork *work = runner.queue.front();
  if (work->queued_) {
    work->queued_ = false;
    work->started_ = now_ms();
  }
  bool more = run_slice(work, long_work_slice_ms);
  // The work may have been cancelled inside its step (its window closed).
  if (runner.queue.empty() || runner.queue.front() != work) return TRUE;
  if (!more) {
    runner.queue.pop_front();
    finish(work, true);
    if (runner.queue.empty()) {
      runner.idle = 0;
      runner.set_busy(false);
      return FALSE;
    }
    return TRUE;
  }
  if (now_ms() - work->started_ >= long_work_progress_after_ms) show_progress(work);
  return TRUE;
}

void LongWorkRunner::start(LongWork *work) {
  if (!runner.queue.empty()) {
    // Its turn comes when the work before it has ended.
    work->queued_ = true;
    runner.queue.push_back(work);
    return;
  }
  work->started_ = now_ms();
  runner.queue.push_back(work);
  bool more = run_slice(work, long_work_first_slice_ms);
  if (runner.queue.empty() || runner.queue.front() != work) return;  // cancelled meanwhile
  if (!more) {
    runner.queue.pop_front();
    finish(work, true);
    return;
  }
  runner.schedule();
}

void start_long_work(LongWork *work) { LongWorkRunner::start(work); }

void cancel_long_work(LongWork *work) {
  if (std::find(runner.queue.begin(), runner.queue.end(), work) == runner.queue.end()) return;
  runner.remove(work);
  LongWorkRunner::finish(work, false);
  runner.after_change();
}

bool long_work_busy() { return runner.busy; }
