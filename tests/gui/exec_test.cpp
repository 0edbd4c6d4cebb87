// The control bar, stop reports and tracing against the simulated PC's demo
// program, through real pipes: the exact dialogue, the three looks, the
// history and its log, and a debugger that dies at awkward moments.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "text/debugger_commands.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"
#include "text/settings.hpp"

namespace {

// Labels of the simulated PC's demo program (`bochs --help`).
const uint32_t demo_start = 0x7C00;      // cli
const uint32_t demo_call_clear = 0x7C0D; // call clear, 3 bytes
const uint32_t demo_set_count = 0x7C10;  // mov cx, 5
const uint32_t demo_count = 0x7C13;      // call bump, 3 bytes
const uint32_t demo_loop = 0x7C16;       // loop count
const uint32_t demo_spin = 0x7C3B;       // jmp spin, forever

const char *const offline_banner = ".. o f f l i n e ..";
const char *const running_banner = ".. r u n n i n g ..";

std::string hex8(uint32_t v) {
  char s[16];
  snprintf(s, sizeof s, "%.8X", v);
  return s;
}

}  // namespace

class ExecTest : public GuiTest {
 protected:
  // Steps until the CPU stands at `address`; false when it does not get there.
  bool step_to(uint32_t address, int most = 100) {
    for (int i = 0; i < most && current_location().physical_address != address; i++)
      click(control_bar().step_button);
    return current_location().physical_address == address;
  }

  // A command typed at the debugger by the test itself (the Breakpoints and
  // Watchpoints pages are elsewhere); its reply is discarded.
  void debugger_command(const std::string &line) {
    std::string reply;
    exchange(&reply, "%s", line.c_str());
  }

  bool wait_until_stopped() {
    return pump_until([] { return target_running() == 0; });
  }

  bool wait_until_offline() {
    return pump_until([] { return link_seam().debugger_offline == 1 && !active(main_window().start_button); });
  }

  static bool active(GtkWidget *w) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)); }

  std::vector<std::string> history_tail(size_t n) const {
    std::vector<std::string> all = history_texts();
    if (all.size() > n) all.erase(all.begin(), all.end() - n);
    return all;
  }

  int transcript_count(const std::string &line) const {
    std::vector<std::string> t = transcript();
    return (int)std::count(t.begin(), t.end(), line);
  }

  void expect_stopped_look() {
    EXPECT_TRUE(sensitive(control_bar().go_button));
    EXPECT_TRUE(sensitive(control_bar().step_button));
    EXPECT_FALSE(sensitive(control_bar().stop_button));
    EXPECT_EQ(sensitive(control_bar().next_button), next_offered() == 1);
    EXPECT_TRUE(sensitive(main_window().refresh_all_button));
    EXPECT_TRUE(sensitive(preferences_page().trace_button));
  }

  void expect_running_look() {
    EXPECT_EQ(entry_text(control_bar().physical_entry), "");
    EXPECT_EQ(entry_text(control_bar().location_entry), "");
    EXPECT_EQ(entry_text(control_bar().instruction_entry), running_banner);
    EXPECT_TRUE(sensitive(control_bar().stop_button));
    EXPECT_FALSE(sensitive(control_bar().go_button));
    EXPECT_FALSE(sensitive(control_bar().step_button));
    EXPECT_FALSE(sensitive(control_bar().next_button));
    EXPECT_FALSE(sensitive(main_window().refresh_all_button));
    EXPECT_FALSE(sensitive(preferences_page().trace_button));
  }

  void expect_offline_look() {
    EXPECT_EQ(entry_text(control_bar().physical_entry), "");
    EXPECT_EQ(entry_text(control_bar().location_entry), "");
    EXPECT_EQ(entry_text(control_bar().instruction_entry), offline_banner);
    for (GtkWidget *b : {control_bar().go_button, control_bar().stop_button, control_bar().step_button, control_bar().next_button})
      EXPECT_FALSE(sensitive(b)) << button_label(b);
    EXPECT_FALSE(sensitive(preferences_page().trace_button));
    EXPECT_FALSE(sensitive(main_window().refresh_all_button));
  }

  // The bar shows the last stop, which is the last instruction row.
  void expect_bar_shows_last_row() {
    int last = row_count(history_page().list) - 1;
    while (last >= 0 && cell(history_page().list, last, 0).empty()) last--;
    ASSERT_GE(last, 0);
    EXPECT_EQ(entry_text(control_bar().physical_entry), cell(history_page().list, last, 0));
    EXPECT_EQ(entry_text(control_bar().location_entry), cell(history_page().list, last, 1));
    EXPECT_EQ(entry_text(control_bar().instruction_entry), cell(history_page().list, last, 3));
  }
};

TEST_F(ExecTest, BarIsBuiltLeftToRightAndStartsOffline) {
  build_window();
  GtkWidget *bar = gtk_widget_get_parent(control_bar().go_button);
  GList *children = gtk_container_get_children(GTK_CONTAINER(bar));
  std::vector<GtkWidget *> order;
  for (GList *l = children; l; l = l->next) order.push_back(GTK_WIDGET(l->data));
  g_list_free(children);
  EXPECT_EQ(order, (std::vector<GtkWidget *>{control_bar().physical_entry, control_bar().location_entry,
                                             control_bar().symbol_entry, control_bar().instruction_entry,
                                             control_bar().go_button, control_bar().stop_button, control_bar().step_button, control_bar().next_button}));
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(control_bar().symbol_entry)) << "shown only while symbols are loaded";
  EXPECT_EQ(button_label(control_bar().go_button), " Go ");
  EXPECT_EQ(button_label(control_bar().stop_button), " Stop ");
  EXPECT_EQ(button_label(control_bar().step_button), " Step ");
  EXPECT_EQ(button_label(control_bar().next_button), " Next ");
  int w, h;
  gtk_widget_get_size_request(control_bar().physical_entry, &w, &h);
  EXPECT_EQ(w, 85);
  EXPECT_EQ(h, 20);
  gtk_widget_get_size_request(control_bar().location_entry, &w, &h);
  EXPECT_EQ(w, 140);
  gtk_widget_get_size_request(control_bar().instruction_entry, &w, &h);
  EXPECT_EQ(w, -1) << "no fixed width: it takes the room left";
  EXPECT_EQ(h, 20);
  for (GtkWidget *e : {control_bar().physical_entry, control_bar().location_entry, control_bar().instruction_entry})
    EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(e)));
  expect_offline_look();
  EXPECT_EQ(button_label(preferences_page().trace_button), "Enable instruction tracing");
  EXPECT_FALSE(active(preferences_page().trace_button));

  // Handlers reached while offline send nothing and leave the look alone.
  click(control_bar().go_button);
  click(control_bar().step_button);
  click(control_bar().next_button);
  click(control_bar().stop_button);
  EXPECT_EQ(target_running(), 0);
  expect_offline_look();
  EXPECT_EQ(row_count(history_page().list), 0);
}

TEST_F(ExecTest, StepsThroughTheDemoShowingEachInstruction) {
  build_window();
  start_bochs();
  EXPECT_EQ(entry_text(control_bar().physical_entry), hex8(demo_start));
  EXPECT_EQ(entry_text(control_bar().location_entry), "0000:00007C00");
  EXPECT_EQ(entry_text(control_bar().instruction_entry), "cli");
  EXPECT_EQ(current_location().length, 1u);
  EXPECT_EQ(next_offered(), 0);
  expect_stopped_look();

  ASSERT_TRUE(step_to(demo_call_clear));
  EXPECT_EQ(current_location().length, 3u);
  EXPECT_EQ(entry_text(control_bar().instruction_entry).substr(0, 5), "call ");
  EXPECT_EQ(next_offered(), 1);
  expect_stopped_look();
  expect_bar_shows_last_row();

  // One "s" and one register dump per step, and one instruction row per
  // distinct stop.
  std::vector<std::string> t = transcript();
  // The start reads both point lists after its step.
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t[2], "info break");
  EXPECT_EQ(t[3], "watch");
  t.erase(t.begin() + 2, t.begin() + 4);
  ASSERT_EQ(t.size() % 2, 0u);
  for (size_t i = 0; i < t.size(); i++) EXPECT_EQ(t[i], i % 2 == 0 ? "s" : "dump_cpu") << i;
  std::vector<std::string> rows;
  for (int r = 0; r < row_count(history_page().list); r++)
    if (!cell(history_page().list, r, 0).empty()) rows.push_back(cell(history_page().list, r, 0));
  EXPECT_EQ(rows.size(), t.size() / 2);
  EXPECT_EQ(rows.front(), hex8(demo_start));
  EXPECT_EQ(rows.back(), hex8(demo_call_clear));

  // A step to an instruction that does not qualify takes Next away again.
  click(control_bar().step_button);
  ASSERT_EQ(current_location().physical_address, 0x7C4Bu) << "inside clear";
  EXPECT_EQ(next_offered(), 0);
  EXPECT_FALSE(sensitive(control_bar().next_button));
}

TEST_F(ExecTest, NextOverACallEndsSilentlyOnItsOwnBreakpoint) {
  build_window();
  start_bochs();
  ASSERT_TRUE(step_to(demo_call_clear));
  size_t before = transcript().size();

  click(control_bar().next_button);
  expect_running_look();
  EXPECT_EQ(run_seam().next_pending, 1);
  EXPECT_EQ(run_seam().next_target, demo_set_count);
  ASSERT_TRUE(wait_until_stopped());
  EXPECT_EQ(run_seam().next_pending, 0);
  EXPECT_EQ(current_location().physical_address, demo_set_count);
  EXPECT_EQ(entry_text(control_bar().physical_entry), hex8(demo_set_count));
  expect_stopped_look();

  std::vector<std::string> t = transcript();
  EXPECT_EQ(std::vector<std::string>(t.begin() + before, t.end()),
            (std::vector<std::string>{"pb 0x7C10", "c", "dump_cpu", "d 1"}));
  EXPECT_EQ(history_tail(2), (std::vector<std::string>{"NEXT...", current_location().text}));
  EXPECT_FALSE(history_has("Stopped on a breakpoint"));

  // Next over the call inside the loop: the debugger numbers it 2.
  ASSERT_TRUE(step_to(demo_count));
  click(control_bar().next_button);
  ASSERT_TRUE(wait_until_stopped());
  EXPECT_EQ(current_location().physical_address, demo_loop);
  t = transcript();
  EXPECT_EQ(std::vector<std::string>(t.end() - 4, t.end()),
            (std::vector<std::string>{"pb 0x7C16", "c", "dump_cpu", "d 2"}));
  EXPECT_EQ(transcript_count("pb 0x7C10"), 1);
  EXPECT_FALSE(history_has("Stopped on a breakpoint"));
}

TEST_F(ExecTest, NextStoppedEarlierByAnotherBreakpointEndsLaterSilently) {
  build_window();
  start_bochs();
  ASSERT_TRUE(step_to(demo_call_clear));
  debugger_command("pb 0x7C4B");  // inside clear: reached before the Next's
  click(control_bar().next_button);
  ASSERT_TRUE(wait_until_stopped());
  EXPECT_EQ(current_location().physical_address, 0x7C4Bu);
  EXPECT_EQ(history_tail(1), std::vector<std::string>{"Stopped on a breakpoint"});
  EXPECT_EQ(run_seam().next_pending, 1) << "the Next's breakpoint is still in the debugger";

  // The next run returns to it: it is deleted by the number the debugger
  // reports, and nothing is said.
  click(control_bar().go_button);
  ASSERT_TRUE(wait_until_stopped());
  EXPECT_EQ(current_location().physical_address, demo_set_count);
  EXPECT_EQ(run_seam().next_pending, 0);
  EXPECT_EQ(history_tail(2), (std::vector<std::string>{"GO...", current_location().text}));
  std::vector<std::string> t = transcript();
  ASSERT_GE(t.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(t.end() - 7, t.end()),
            (std::vector<std::string>{"pb 0x7C4B", "pb 0x7C10", "c", "dump_cpu", "c", "dump_cpu", "d 2"}));
}

TEST_F(ExecTest, GoStopsOnABreakpointAndFoldsTheSecondStopThere) {
  build_window();
  start_bochs();
  debugger_command("pb 0x7C16");
  click(control_bar().go_button);
  expect_running_look();
  ASSERT_TRUE(wait_until_stopped());
  EXPECT_EQ(current_location().physical_address, demo_loop);
  EXPECT_EQ(entry_text(control_bar().instruction_entry).substr(0, 5), "loop ");
  EXPECT_EQ(next_offered(), 1);
  expect_stopped_look();
  expect_bar_shows_last_row();
  EXPECT_EQ(history_tail(3),
            (std::vector<std::string>{"GO...", current_location().text, "Stopped on a breakpoint"}));

  // The loop comes back to the same breakpoint: no new row, a count.
  click(control_bar().go_button);
  ASSERT_TRUE(wait_until_stopped());
  EXPECT_EQ(current_location().physical_address, demo_loop);
  EXPECT_EQ(history_tail(6),
            (std::vector<std::string>{"GO...", current_location().text, "Stopped on a breakpoint",
                                      "GO...", "repeated 1 times", "Stopped on a breakpoint"}));
  EXPECT_TRUE(wait_for_transcript(
      {"s", "dump_cpu", "info break", "watch", "pb 0x7C16", "c", "dump_cpu", "c", "dump_cpu"}));
}

TEST_F(ExecTest, GoAndStopOnTheEndlessLoop) {
  build_window();
  start_bochs();
  click(control_bar().go_button);
  pump_for(300);
  ASSERT_EQ(target_running(), 1) << "the demo ends in an endless loop";
  expect_running_look();
  EXPECT_EQ(history_tail(1), std::vector<std::string>{"GO..."});

  click(control_bar().stop_button);
  EXPECT_EQ(target_running(), 0);
  EXPECT_EQ(current_location().physical_address, demo_spin);
  EXPECT_EQ(entry_text(control_bar().instruction_entry).substr(0, 4), "jmp ");
  EXPECT_EQ(next_offered(), 0);
  expect_stopped_look();
  expect_bar_shows_last_row();
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "c", "#SIGINT", "dump_cpu"}));
  EXPECT_EQ(history_tail(2), (std::vector<std::string>{"GO...", current_location().text}));

  // The debugger is back in step: a step reads its own reply.
  click(control_bar().step_button);
  EXPECT_EQ(current_location().physical_address, demo_spin);
  EXPECT_TRUE(wait_for_transcript(
      {"s", "dump_cpu", "info break", "watch", "c", "#SIGINT", "dump_cpu", "s", "dump_cpu"}));
}

TEST_F(ExecTest, WatchpointStopsForWriteAndRead) {
  build_window();
  start_bochs();
  debugger_command("watch write 0x500");
  debugger_command("watch read 0x500");
  // clear writes the counter first, then bump reads it.
  for (const char *message : {"Stopped on the write watchpoint at 00000500", "Stopped on the read watchpoint at 00000500"}) {
    click(control_bar().go_button);
    ASSERT_TRUE(wait_until_stopped());
    expect_stopped_look();
    EXPECT_EQ(history_tail(1), std::vector<std::string>{message});
  }
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "watch write 0x500",
                                   "watch read 0x500", "c", "dump_cpu", "c", "dump_cpu"}));
  EXPECT_FALSE(history_has("Stopped on a breakpoint"));
}

TEST_F(ExecTest, TracingAcrossTheDemoAddsOneRowForTheEndlessLoopAndACount) {
  build_window();
  settings.history_length = 1000;
  start_bochs();
  size_t rows_before = history_texts().size();

  click(preferences_page().trace_button);
  EXPECT_EQ(tracing_on(), 1);
  EXPECT_TRUE(active(preferences_page().trace_button));
  EXPECT_EQ(history_tail(1), std::vector<std::string>{"--- TRACE ENABLED ---"});

  click(control_bar().go_button);
  pump_for(500);
  ASSERT_EQ(target_running(), 1);
  expect_running_look();  // trace lines leave the bar alone

  click(control_bar().stop_button);
  EXPECT_EQ(target_running(), 0);
  EXPECT_EQ(current_location().physical_address, demo_spin);
  click(preferences_page().trace_button);
  EXPECT_EQ(tracing_on(), 0);
  EXPECT_FALSE(active(preferences_page().trace_button));

  // Every traced instruction has its row: five passes of the loop; the
  // endless loop has exactly one row, followed by its count.
  std::vector<std::string> h = history_texts();
  int spin_rows = 0, loop_rows = 0;
  size_t spin_at = 0;
  for (size_t r = rows_before; r < h.size(); r++) {
    std::string physical = cell(history_page().list, (int)r, 0);
    if (physical == hex8(demo_loop)) loop_rows++;
    if (physical == hex8(demo_spin)) {
      spin_rows++;
      spin_at = r;
    }
  }
  EXPECT_EQ(loop_rows, 5);
  EXPECT_EQ(spin_rows, 1);
  ASSERT_EQ(spin_at + 3, h.size()) << "the row, its count, then the message";
  unsigned repeats = 0;
  EXPECT_EQ(sscanf(h[spin_at + 1].c_str(), "repeated %u times", &repeats), 1) << h[spin_at + 1];
  EXPECT_GT(repeats, 10u);
  EXPECT_EQ(h.back(), "--- TRACE DISABLED ---");
  EXPECT_TRUE(wait_for_transcript(
      {"s", "dump_cpu", "info break", "watch", "trace-on", "c", "#SIGINT", "dump_cpu", "trace-off"}));
}

TEST_F(ExecTest, TracingOnWritesAPendingCountFirstAndStartsAFreshRow) {
  build_window();
  start_bochs();
  click(control_bar().go_button);
  pump_for(200);
  click(control_bar().stop_button);
  ASSERT_EQ(current_location().physical_address, demo_spin);
  click(control_bar().step_button);  // the same place again: a count is pending
  ASSERT_EQ(history_page().fold.count, 1u);

  click(preferences_page().trace_button);
  EXPECT_EQ(history_tail(3), (std::vector<std::string>{current_location().text, "repeated 1 times",
                                                        "--- TRACE ENABLED ---"}));
  // The repeats start afresh: the next traced instruction gets its own row
  // even at the same address.
  click(control_bar().go_button);
  pump_for(200);
  click(control_bar().stop_button);
  click(preferences_page().trace_button);
  std::vector<std::string> h = history_tail(5);
  ASSERT_EQ(h.size(), 5u);
  EXPECT_EQ(h[0], "--- TRACE ENABLED ---");
  EXPECT_EQ(h[1], "GO...");
  EXPECT_EQ(h[2], current_location().text);
  EXPECT_EQ(h[3].substr(0, 9), "repeated ");
  EXPECT_EQ(h[4], "--- TRACE DISABLED ---");
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "c", "#SIGINT", "dump_cpu", "s",
                                   "dump_cpu", "trace-on", "c", "#SIGINT", "dump_cpu", "trace-off"}));
}

TEST_F(ExecTest, QuitWhileRunningInterruptsFirstAndTheLogHoldsTheSession) {
  build_window();
  start_bochs();
  ASSERT_TRUE(step_to(demo_call_clear));
  click(control_bar().next_button);
  ASSERT_TRUE(wait_until_stopped());
  debugger_command("pb 0x7C16");
  click(control_bar().go_button);
  ASSERT_TRUE(wait_until_stopped());
  click(control_bar().go_button);
  ASSERT_TRUE(wait_until_stopped());
  click(control_bar().step_button);  // loop count
  debugger_command("d 2");
  click(control_bar().go_button);
  pump_for(200);
  ASSERT_EQ(target_running(), 1);
  quit_clicked(NULL, NULL);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_EQ(link_seam().debugger_offline, 1);

  std::vector<std::string> session = {"s", "dump_cpu", "info break", "watch"};
  for (int i = 0; i < 7; i++) session.insert(session.end(), {"s", "dump_cpu"});
  session.insert(session.end(), {"pb 0x7C10", "c", "dump_cpu", "d 1", "pb 0x7C16", "c", "dump_cpu",
                                 "c", "dump_cpu", "s", "dump_cpu", "d 2", "c", "#SIGINT", "q"});
  ASSERT_TRUE(wait_for_transcript(session))
      << testing::PrintToString(transcript());

  EXPECT_EQ(read_file(work_dir + "/__vum.log__"),
            ": Starting Bochs\n"
            "00007C00  0000:00007C00  [fa]  cli\n"
            "00007C01  0000:00007C01  [31c0]  xor ax, ax\n"
            "00007C03  0000:00007C03  [8ed8]  mov ds, ax\n"
            "00007C05  0000:00007C05  [8ec0]  mov es, ax\n"
            "00007C07  0000:00007C07  [8ed0]  mov ss, ax\n"
            "00007C09  0000:00007C09  [bc007c]  mov sp, 0x7c00\n"
            "00007C0C  0000:00007C0C  [fb]  sti\n"
            "00007C0D  0000:00007C0D  [e83b00]  call 0x7c4b\n"
            ": NEXT...\n"
            "00007C10  0000:00007C10  [b90500]  mov cx, 0x5\n"
            ": GO...\n"
            "00007C16  0000:00007C16  [e2fb]  loop 0x7c13\n"
            ": Stopped on a breakpoint\n"
            ": GO...\n"
            ": repeated 1 times\n"
            ": Stopped on a breakpoint\n"
            "00007C13  0000:00007C13  [e82700]  call 0x7c3d\n"
            ": GO...\n"
            ": Terminating Bochs\n");
}

// ---------------------------------------------------------------------------
// The debugger dying: no crash, nothing stale, and the lost-connection path.

TEST_F(ExecTest, DebuggerKilledDuringARunGoesOffline) {
  build_window();
  start_bochs();
  click(control_bar().go_button);
  pump_for(200);
  ASSERT_EQ(target_running(), 1);
  int32_t pid = link_seam().child_pid;
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(wait_until_offline());
  EXPECT_EQ(target_running(), 0);
  EXPECT_EQ(history_tail(2), (std::vector<std::string>{"GO...", "Lost connection to Bochs"}));
  EXPECT_EQ(button_label(main_window().start_button), " Start Bochs ");
  expect_offline_look();
  EXPECT_NE(printed.find("DEAD-" + std::to_string(pid) + "\n"), std::string::npos);
  EXPECT_EQ(transcript_count("#SIGINT"), 0) << "nothing is sent to a lost child";

  // A new debugger starts and steps as before.
  start_bochs();
  EXPECT_EQ(entry_text(control_bar().instruction_entry), "cli");
  click(control_bar().step_button);
  EXPECT_EQ(current_location().physical_address, demo_start + 1);
}

TEST_F(ExecTest, DebuggerDyingBetweenStopLineAndInstructionGoesOffline) {
  // Commands: 1 "s", 2 "dump_cpu", 3 "info break", 4 "watch" (the start),
  // 5 "pb", 6 "c": the debugger ends after the stop line.
  setenv("VUM_SIM_EXIT_MID_REPLY", "6", 1);
  build_window();
  start_bochs();
  unsetenv("VUM_SIM_EXIT_MID_REPLY");
  StopLocation before = current_location();
  debugger_command("pb 0x7C16");
  click(control_bar().go_button);
  ASSERT_TRUE(wait_until_offline());
  EXPECT_EQ(history_tail(2), (std::vector<std::string>{"GO...", "Lost connection to Bochs"}));
  EXPECT_FALSE(history_has("Stopped on a breakpoint"));
  EXPECT_EQ(current_location().physical_address, before.physical_address);
  EXPECT_STREQ(current_location().text, before.text);
  expect_offline_look();
  EXPECT_EQ(transcript_count("d 1"), 0);
}

TEST_F(ExecTest, DebuggerDyingInTheMiddleOfAStepGoesOffline) {
  // Commands: 1 to 4 the start, 5 the step: the debugger ends after "Next at".
  setenv("VUM_SIM_EXIT_MID_REPLY", "5", 1);
  build_window();
  start_bochs();
  unsetenv("VUM_SIM_EXIT_MID_REPLY");
  click(control_bar().step_button);
  ASSERT_TRUE(wait_until_offline());
  EXPECT_EQ(current_location().physical_address, demo_start) << "the step's report never came";
  EXPECT_EQ(history_texts(),
            (std::vector<std::string>{"Starting Bochs", "cli", "Lost connection to Bochs"}));
  expect_offline_look();
}

TEST_F(ExecTest, DebuggerDyingAfterTheNextBreakpointGoesOffline) {
  // Commands: 1 to 4 the start, 5 the Next's "pb": the debugger ends on
  // receiving it.
  setenv("VUM_SIM_EXIT_AFTER", "5", 1);
  build_window();
  start_bochs();
  unsetenv("VUM_SIM_EXIT_AFTER");
  click(control_bar().next_button);
  ASSERT_TRUE(wait_until_offline());
  EXPECT_EQ(history_texts(), (std::vector<std::string>{"Starting Bochs", "cli", "NEXT...",
                                                       "Lost connection to Bochs"}));
  expect_offline_look();
  EXPECT_EQ(target_running(), 0);
}
