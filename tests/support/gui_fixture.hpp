// In-process GUI tests: the real main window under Xvfb, the simulated PC
// through real pipes, and helpers to click, type, pump the main loop until a
// condition holds, and read widget texts, list cells and the debugger's
// record of the commands it received.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

class GuiTest : public ::testing::Test {
 public:
  static std::string printed;   // everything VUM printed with g_print
  static void init_toolkit();   // gtk_init, waiting a little for a busy display

 protected:
  void SetUp() override;
  void TearDown() override;

  // Builds the real main window (start-up without the main loop). Tests that
  // need settings, files or environment in place first call it themselves.
  void build_window();

  // Runs the main loop until `done` holds or `timeout_ms` passes; the result
  // is whether it held.
  bool pump_until(const std::function<bool()> &done, int timeout_ms = 15000);
  void pump_for(int ms);
  // Presses and releases a key in `window` (the toolkit's test utility, which
  // moves the pointer into the window's middle), then moves the pointer back
  // to its corner (see init_toolkit). True when both events were sent.
  bool simulate_key(GdkWindow *window, guint key, GdkModifierType modifiers = (GdkModifierType)0);
  // Until every window has been laid out and drawn, and the X server has
  // done the drawing: for tests that read pixels back.
  void drawn();
  // The pixels of an offscreen window (gtk_offscreen_window_new), row by
  // row, three or four bytes each; empty when it has none yet.
  static std::vector<guchar> offscreen_pixels(GtkWidget *window);

  void click(GtkWidget *button);
  void type_into(GtkWidget *entry, const std::string &text);
  void activate(GtkWidget *entry);

  // Presses " Start Bochs " and waits until the first stop has been handled.
  void start_bochs();

  // Readers of widgets show the display updates that wait for the idle loop first.
  std::string entry_text(GtkWidget *entry) const;
  std::string button_label(GtkWidget *button) const;
  // Lists: a GtkCList, or a GtkTreeView of text columns (the History list).
  std::string cell(GtkWidget *list, int row, int column) const;
  int row_count(GtkWidget *list) const;
  int selected_row(GtkWidget *list) const;  // -1: none
  int column_width(GtkWidget *list, int column) const;
  // The row is shown whole in the list's window.
  bool row_fully_visible(GtkWidget *list, int row) const;
  bool sensitive(GtkWidget *widget) const;
  bool active(GtkWidget *toggle) const;

  // Column 3 of the History list, top to bottom.
  std::vector<std::string> history_texts() const;
  bool history_has(const std::string &text) const;

  // The command lines the simulated PC received, without their newlines.
  std::vector<std::string> transcript() const;
  bool transcript_has(const std::string &line) const;
  bool wait_for_transcript(const std::vector<std::string> &expected, int timeout_ms = 15000);

  std::string read_file(const std::string &path) const;

  // Number of zombie children of this process.
  int zombie_children() const;
  int open_descriptors() const;

  // A time the behaviour under test promises (a second to stop, say), in
  // microseconds: as given, and stretched where the build runs several
  // times slower (the sanitizers), so that the promise is checked, not the
  // build's speed.
  static gint64 promised(gint64 microseconds);

  std::string work_dir;         // current directory of the test (fresh, empty)
  std::string transcript_path;  // VUM_SIM_TRANSCRIPT
};
