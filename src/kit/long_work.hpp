// Long work: a read that may take long (a big list, a big dump) is done in
// slices from the main loop, so that the window keeps redrawing and Quit,
// signals and Cancel are honoured between slices. Its first slice runs at
// once, inside the click that asked for it: work that ends within it is done
// as before, without the main loop. Work that takes longer than about 0.3 s
// shows a progress bar and a Cancel button in its window.
//
// One piece of work runs at a time (the debugger answers one question at a
// time); work asked for meanwhile waits for its turn. While work runs or
// waits, long_work_events.busy says so, so that nothing else asks the
// debugger between its slices.
#pragma once

#include <gtk/gtk.h>

class LongWork {
 public:
  LongWork() = default;
  LongWork(const LongWork &) = delete;
  LongWork &operator=(const LongWork &) = delete;
  virtual ~LongWork();

  // Does a little more of the work (a few milliseconds' worth); false when
  // nothing is left to do.
  virtual bool step() = 0;
  // How much is done, from 0 to 1.
  virtual double fraction() const = 0;
  // The work has ended: `finished` when every step was done, otherwise it
  // was cancelled (Cancel, its window closed, the debugger gone). Called
  // once; the work is deleted right after.
  virtual void end(bool finished) = 0;

  // Where the progress bar and Cancel go: a box of the work's window, or
  // none. Set before the work is started. A hidden box is shown with them
  // and hidden again when the work ends.
  GtkWidget *progress_box = NULL;

 private:
  friend struct LongWorkRunner;
  GtkWidget *bar_ = NULL, *cancel_ = NULL;
  gint64 started_ = 0;
  bool queued_ = false, box_shown_ = false;
};

struct LongWorkEvents {
  void (*busy)(bool busy);  // work runs or waits from the main loop, or no longer
};
extern LongWorkEvents long_work_events;

// Runs the work (taking it over): its first slice now, the rest from the
// main loop once the work before it has ended.
void start_long_work(LongWork *work);

// Ends the work now, as cancelled (its end(false) runs, then it is deleted).
// Nothing happens for work that has already ended.
void cancel_long_work(LongWork *work);

// True while work runs or waits from the main loop.
bool long_work_busy();

// The slices: the first one at most this long (it runs inside the click),
// the others about this long, and the progress shown after this much.
const int long_work_first_slice_ms = 100;
const int long_work_slice_ms = 25;
const int long_work_progress_after_ms = 300;
