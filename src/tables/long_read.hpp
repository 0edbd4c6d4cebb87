// Reads that may take long (a big descriptor table, a search over
// megabytes) run here in chunks from the main loop, one exchange at a time,
// so that the window redraws and Quit, signals and Cancel are heard between
// them. One long read runs at a time, for the Tables and the Search page.
// While one runs past its first slice, the pages' events tell the shell,
// which keeps every other control that talks to the debugger insensitive:
// nothing else may ask in the middle of it.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

// What the Tables and Search pages report; the shell connects them. Every
// member may be left empty.
struct TablesEvents {
  // A hit of the search is to be shown in a dump window of the Memory page.
  void (*open_dump)(uint32_t address, bool linear);
  // A long read began (true) or ended (false) its run in the background.
  void (*busy)(bool busy);
};
extern TablesEvents tables_events;

enum class LongReadEnd {
  finished,   // the job said it was done
  cancelled,  // Cancel, Quit, or a new debugger
  cut,        // the debugger stopped waiting (lost, killed) before the job was done
};

// One long read. The runner asks for a command, sends it through the one
// exchange, and hands the reply back, until the job has no more commands.
class LongReadJob {
 public:
  virtual ~LongReadJob() = default;
  // The next command (one line); false when the job is done.
  virtual bool next_command(std::string *command) = 0;
  virtual void took_reply(const std::string &reply) = 0;
  // How far it is, from 0 to 1, and a line that says so.
  virtual double progress(std::string *text) = 0;
  // Called once, last; the runner lets go of the job then.
  virtual void ended(LongReadEnd how) = 0;
};

// The progress bar, its text and Cancel: a row of a page, hidden until a
// read has taken long_read_patience_ms.
struct ProgressRow {
  GtkWidget *box;
  GtkWidget *bar;
  GtkWidget *label;
  GtkWidget *cancel_button;
};
void build_progress_row(GtkWidget *box, ProgressRow *row);

const int long_read_patience_ms = 300;  // before the progress row shows
const int long_read_slice_ms = 25;      // of exchanges between two turns of the main loop

// Starts the job, running its first slice at once (a short read is over
// when this returns). False, with nothing sent and the job not started,
// while the debugger does not wait at its prompt or another long read runs.
bool start_long_read(LongReadJob *job, ProgressRow *row);

bool long_read_running();

// Ends the read that runs, if any (LongReadEnd::cancelled).
void cancel_long_read();

// The runner's state, for tests.
struct LongReadState {
  LongReadJob *job;
  ProgressRow *row;
  guint source;         // the idle call of the next slice, 0 when none
  gint64 started;       // g_get_monotonic_time() at the start
  bool busy;            // the shell was told
  uint64_t exchanges;   // of this read
};
LongReadState &long_read_seam();
