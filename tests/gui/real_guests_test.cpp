// VUM with the guests people debug, on the simulated PC: a guest printing on
// port 0xE9 without pause, magic breakpoints, a triple fault, cli; hlt, Stop
// right after Go, a debugger that cannot start, and watchpoint values that
// the guest changes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "guest/guest_output_page.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "points/watchpoints_page.hpp"
#include "shell/main_window.hpp"
#include "sim/guests.hpp"
#include "text/settings.hpp"
#include "support/gui_fixture.hpp"

namespace {

namespace guest = sim::guest;

class RealGuestsTest : public GuiTest {
 protected:
  void TearDown() override {
    for (const char *v : {"VUM_SIM_GUEST", "VUM_SIM_MAGIC_BREAK", "VUM_SIM_RESET_ON_TRIPLE_FAULT", "VUM_SIM_FAIL_START"})
      unsetenv(v);
    GuiTest::TearDown();
  }

  void start_guest(const char *name) {
    setenv("VUM_SIM_GUEST", name, 1);
    build_window();
    start_bochs();
  }

  bool go_until_stopped(int timeout_ms = 15000) {
    click(control_bar().go_button);
    return pump_until([] { return !target_running(); }, timeout_ms);
  }

  // The physical address the bar shows.
  std::string bar_place() const { return entry_text(control_bar().physical_entry); }

  static std::string hex8(uint32_t v) {
    char t[12];
    snprintf(t, sizeof t, "%.8X", v);
    return t;
  }
};

}  // namespace

TEST_F(RealGuestsTest, AGuestPrintingWithoutPauseIsShownAndTheWindowAnswers) {
  start_guest("e9");
  size_t rows = history_texts().size();
  click(control_bar().go_button);
  ASSERT_TRUE(target_running());
  // The guest's text arrives on its own page while the target runs (the
  // first line may already have made way for the newest: the log below
  // keeps it); the history gets no row from it.
  ASSERT_TRUE(pump_until([] { return guest_output_text().find("e9 loop\ne9 loop\n") != std::string::npos; }, 10000))
      << guest_output_text().substr(0, 200);
  pump_for(300);
  EXPECT_TRUE(target_running()) << "the guest's lines are no stop report";
  EXPECT_EQ(history_texts().size(), rows + 1) << "only GO...";
  // Stop stops within a second, with the guest printing all the while.
  gint64 began = g_get_monotonic_time();
  click(control_bar().stop_button);
  EXPECT_LT(g_get_monotonic_time() - began, promised(1000000));
  EXPECT_FALSE(target_running());
  EXPECT_TRUE(debugger_online());
  std::string place = bar_place();
  EXPECT_TRUE(place >= hex8(guest::e9::looping) && place < hex8(guest::e9::hello)) << place;  // in the loop
  // The text is in the log beside the history log too, as printed.
  flush_guest_output();
  EXPECT_EQ(read_file("__vum_guest.log__").substr(0, 22), "hello from e9\ne9 loop\n");
  // The page's memory is bounded.
  EXPECT_LE(guest_output_text().size(), 2 * guest_text_kept);
}

TEST_F(RealGuestsTest, QuitEndsVumAndAGuestPrintingWithoutPauseWithinASecond) {
  start_guest("e9");
  int32_t pid = link_seam().child_pid;
  click(control_bar().go_button);
  pump_for(300);
  gint64 began = g_get_monotonic_time();
  click(main_window().quit_button);
  EXPECT_LT(g_get_monotonic_time() - began, promised(1000000));
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_FALSE(child_alive(pid));
}

TEST_F(RealGuestsTest, SigtermEndsVumWhileAGuestPrintsWithoutPause) {
  start_guest("e9");
  int32_t pid = link_seam().child_pid;
  click(control_bar().go_button);
  pump_for(300);
  gint64 began = g_get_monotonic_time();
  raise(SIGTERM);
  ASSERT_TRUE(pump_until([] { return main_window().main_loop_left == 1; }, (int)(promised(1000000) / 1000)));
  EXPECT_LT(g_get_monotonic_time() - began, promised(1000000));
  EXPECT_FALSE(child_alive(pid));
}

TEST_F(RealGuestsTest, AMagicBreakpointStopsTheRunAndIsNamed) {
  setenv("VUM_SIM_MAGIC_BREAK", "1", 1);
  start_guest("magic");
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(bar_place(), hex8(guest::magic::after1));
  std::vector<std::string> h = history_texts();
  ASSERT_GE(h.size(), 2u);
  EXPECT_EQ(h[h.size() - 1], "Stopped on a magic breakpoint");
  EXPECT_EQ(current_location().physical_address, guest::magic::after1);
  EXPECT_FALSE(history_has("Unreadable reply from Bochs: Next at t=152"));
  // A step onto the second one stops after it, and says so too.
  for (int i = 0; i < 5 && current_location().physical_address != guest::magic::magic2; i++)
    click(control_bar().step_button);
  ASSERT_EQ(current_location().physical_address, guest::magic::magic2);
  click(control_bar().step_button);
  EXPECT_EQ(current_location().physical_address, guest::magic::after2);
  EXPECT_EQ(history_texts().back(), "Stopped on a magic breakpoint");
  EXPECT_EQ(guest_output_text(), "before the magic breakpoint\n");
}

TEST_F(RealGuestsTest, ATripleFaultResetsTheCpuAndIsNamed) {
  setenv("VUM_SIM_RESET_ON_TRIPLE_FAULT", "1", 1);
  start_guest("triple");
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(entry_text(control_bar().location_entry), "F000:0000FFF0");
  EXPECT_EQ(history_texts().back(), "The CPU was reset (triple fault)");
  // The guest boots again: it runs to the same fault and reset.
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(entry_text(control_bar().location_entry), "F000:0000FFF0");
  EXPECT_EQ(history_texts().back(), "The CPU was reset (triple fault)");
  EXPECT_TRUE(debugger_online());
}

TEST_F(RealGuestsTest, AStepOnCliHltEndsWithinASecondAndSaysTheCpuIsHalted) {
  start_guest("hlt");
  for (int i = 0; i < 10 && current_location().physical_address != guest::hlt::halt; i++)
    click(control_bar().step_button);
  ASSERT_EQ(current_location().physical_address, guest::hlt::halt);
  gint64 began = g_get_monotonic_time();
  click(control_bar().step_button);
  EXPECT_LT(g_get_monotonic_time() - began, promised(1000000));
  EXPECT_TRUE(debugger_online()) << "the session stays";
  EXPECT_EQ(history_texts().back(), "The CPU is halted with interrupts off: only a reset or an NMI wakes it");
  EXPECT_TRUE(transcript_has("#SIGINT"));
  // Stepping again on the halted CPU does the same, and the dialogue is in step.
  began = g_get_monotonic_time();
  click(control_bar().step_button);
  EXPECT_LT(g_get_monotonic_time() - began, promised(1000000));
  EXPECT_EQ(history_texts().back(), "The CPU is halted with interrupts off: only a reset or an NMI wakes it");
  std::vector<std::string> t = transcript();
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t.back(), "dump_cpu");
}

TEST_F(RealGuestsTest, FiftyGoStopPairsBackToBackEachStop) {
  build_window();
  settings.history_length = 1000;  // every row of the fifty stays to be read
  start_bochs();
  for (int i = 0; i < 50; i++) {
    SCOPED_TRACE(i);
    size_t rows = history_texts().size();
    click(control_bar().go_button);
    click(control_bar().stop_button);  // at once: the debugger may not have read "c" yet
    ASSERT_FALSE(target_running());
    ASSERT_TRUE(debugger_online());
    std::vector<std::string> h = history_texts();
    EXPECT_NE(std::find(h.begin() + (long)rows, h.end(), "GO..."), h.end());
    EXPECT_NE(bar_place(), "") << "its stop is shown";
  }
  EXPECT_FALSE(history_has("Lost connection to Bochs"));
}

TEST_F(RealGuestsTest, AFailedStartShowsTheDebuggersOwnWords) {
  setenv("VUM_SIM_FAIL_START", "bochsrc:9: directive 'frobnicate' not understood", 1);
  build_window();
  gint64 began = g_get_monotonic_time();
  click(main_window().start_button);
  EXPECT_LT(g_get_monotonic_time() - began, promised(2000000));
  EXPECT_FALSE(debugger_online());
  EXPECT_EQ(main_window().main_loop_left, 0) << "the window stays";
  // Its last lines, its own words last.
  std::vector<std::string> h = history_texts();
  EXPECT_EQ(h.back(), "bochsrc:9: directive 'frobnicate' not understood");
  EXPECT_NE(std::find(h.end() - std::min<long>(5, (long)h.size()), h.end(), "Bochs did not start:"), h.end());
  EXPECT_NE(printed.find("VUM: Bochs did not start: bochsrc:9: directive 'frobnicate' not understood\n"),
            std::string::npos);
  EXPECT_EQ(zombie_children(), 0);
}

TEST_F(RealGuestsTest, WatchpointValuesFollowWhatTheGuestWrites) {
  build_window();
  start_bochs();
  // The demo's counter at 0x500: clear zeroes it, bump counts it up.
  click(watchpoints_page().w.kind_group->buttons[1].button);
  type_into(watchpoints_page().w.entry, "500");
  click(watchpoints_page().w.add_button);
  std::vector<std::string> values;
  for (int i = 0; i < 4; i++) {
    ASSERT_TRUE(go_until_stopped());
    values.push_back(cell(watchpoints_page().w.list, 0, 3));
  }
  // clear writes 0, then each bump one more: each stop shows the value
  // written at that stop, not the one of the list's first read.
  EXPECT_EQ(values, (std::vector<std::string>{"00000000", "00000001", "00000002", "00000003"}));
  EXPECT_EQ(history_texts().back(), "Stopped on the write watchpoint at 00000500");
}
