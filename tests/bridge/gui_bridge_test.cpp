// VUM's real window driving the real Bochs 2.7 through the bridge, on the
// demo floppy (demo/README.md): start, Step, Next, Go to breakpoints, Go and
// Stop, watchpoints, tracing, Kill and start again with the points reloaded,
// Quit. The bridge records the old-dialect lines it received, so the
// dialogue is checked as with the simulated PC.
#include <algorithm>
#include <string>
#include <vector>

#include "bridge_gui_fixture.hpp"
#include "history/history.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"

TEST_F(BridgeGuiTest, StartStepAndNextOverACall) {
  build_window();
  start_bochs();
  // The first step from the reset vector.
  EXPECT_EQ(entry_text(control_bar().physical_entry), "000FE05B");
  EXPECT_EQ(entry_text(control_bar().location_entry), "F000:0000E05B");
  EXPECT_EQ(entry_text(control_bar().instruction_entry), "xor ax, ax");

  add_breakpoint_at(0, "7c20");  // call bump
  ASSERT_EQ(rows(breakpoints_page().w.list, 3), Lines({"|Physical|00007C20"}));
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C20");
  EXPECT_EQ(history_texts().back(), "Stopped on a breakpoint");
  EXPECT_EQ(rows(breakpoints_page().w.list, 3), Lines({"X|Physical|00007C20"}));
  ASSERT_TRUE(sensitive(control_bar().next_button)) << entry_text(control_bar().instruction_entry);

  click(control_bar().next_button);
  ASSERT_TRUE(pump_until([] { return target_running() == 0; }));
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C23");
  EXPECT_EQ(entry_text(control_bar().instruction_entry).substr(0, 4), "loop");
  click(control_bar().step_button);
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C20");
  Lines t = transcript();
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t[0], "s");
  EXPECT_NE(std::find(t.begin(), t.end(), "pb 0x7C23"), t.end()) << "Next's breakpoint";
  EXPECT_NE(std::find(t.begin(), t.end(), "d 2"), t.end()) << "and its removal";
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t[t.size() - 2], "s");
  EXPECT_EQ(t.back(), "dump_cpu") << "every stop reads the registers";
}

TEST_F(BridgeGuiTest, GoToEachKindOfBreakpointAndGoAndStop) {
  build_window();
  start_bochs();
  add_breakpoint_at(2, "0:7c58");  // farsub, real mode
  add_breakpoint_at(1, "7ca1");    // call pm_sub, protected mode
  add_breakpoint_at(2, "8:7cc0");  // pm_sub
  EXPECT_EQ(rows(breakpoints_page().w.list, 3),
            Lines({"|Virtual|0000:00007C58", "|Linear|00007CA1", "|Virtual|0008:00007CC0"}));
  const struct {
    const char *physical, *location;
    int row;
  } stops[] = {{"00007C58", "0000:00007C58", 0}, {"00007CA1", "0008:00007CA1", 1}, {"00007CC0", "0008:00007CC0", 2}};
  for (const auto &s : stops) {
    ASSERT_TRUE(go_until_stopped());
    EXPECT_EQ(entry_text(control_bar().physical_entry), s.physical);
    EXPECT_EQ(entry_text(control_bar().location_entry), s.location);
    EXPECT_EQ(cell(breakpoints_page().w.list, s.row, 0), "X");
  }
  click(breakpoints_page().w.remove_all_button);
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);

  click(control_bar().go_button);
  pump_for(500);
  ASSERT_EQ(target_running(), 1) << "runs until Stop";
  click(control_bar().stop_button);
  EXPECT_EQ(target_running(), 0);
  uint32_t at = current_location().physical_address;
  EXPECT_GE(at, 0x7CA0u);
  EXPECT_LE(at, 0x7CC1u);
  click(control_bar().step_button);
  EXPECT_NE(current_location().physical_address, at) << "the dialogue is in step";
}

TEST_F(BridgeGuiTest, ReadAndWriteWatchpointsMarkTheirRows) {
  build_window();
  start_bochs();
  add_breakpoint_at(0, "7ca0");
  ASSERT_TRUE(go_until_stopped());
  click(breakpoints_page().w.remove_all_button);
  add_watchpoint_at(0, "600");
  add_watchpoint_at(1, "502");  // hit by the 4-byte write at 0x500
  EXPECT_EQ(rows(watchpoints_page().w.list, 3), Lines({"|Read|00000600", "|Write|00000502"}));
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(history_texts().back(), "Stopped on the write watchpoint at 00000502");
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007CAB");
  EXPECT_EQ(rows(watchpoints_page().w.list, 3), Lines({"|Read|00000600", "X|Write|00000502"}));
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007CB1");
  EXPECT_EQ(rows(watchpoints_page().w.list, 3), Lines({"X|Read|00000600", "|Write|00000502"}));

  // Remove one: the other stays.
  gtk_clist_select_row(GTK_CLIST(watchpoints_page().w.list), 0, 0);
  click(watchpoints_page().w.remove_button);
  EXPECT_EQ(rows(watchpoints_page().w.list, 3), Lines({"|Write|00000502"}));
}

TEST_F(BridgeGuiTest, TracingOnAndOff) {
  build_window();
  start_bochs();
  add_breakpoint_at(0, "7ca0");
  ASSERT_TRUE(go_until_stopped());
  click(breakpoints_page().w.remove_all_button);
  add_breakpoint_at(0, "7cc0");
  click(preferences_page().trace_button);
  ASSERT_EQ(tracing_on(), 1);
  size_t before = history_texts().size();
  ASSERT_TRUE(go_until_stopped());
  Lines h = history_texts();
  EXPECT_EQ(h.back(), "Stopped on a breakpoint");
  EXPECT_GE(h.size(), before + 3) << "trace rows for inc eax and call";
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007CC0");
  click(preferences_page().trace_button);
  EXPECT_EQ(tracing_on(), 0);
  Lines t = transcript();
  EXPECT_NE(std::find(t.begin(), t.end(), "trace-on"), t.end());
  EXPECT_EQ(t.back(), "trace-off");
  click(control_bar().step_button);
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007CC1");
}

TEST_F(BridgeGuiTest, KillAndStartAgainReloadsThePoints) {
  build_window();
  start_bochs();
  add_breakpoint_at(0, "7c50");
  add_breakpoint_at(2, "8:7cc0");
  add_watchpoint_at(1, "500");
  Lines breakpoints = rows(breakpoints_page().w.list, 3), watchpoints = rows(watchpoints_page().w.list, 3);
  pid_t first = emulator_now();
  ASSERT_GT(first, 0);
  click(main_window().start_button);  // Kill
  ASSERT_EQ(link_seam().debugger_offline, 1);
  EXPECT_TRUE(process_ends(first, 8000)) << "Kill leaves no emulator";

  start_bochs();
  EXPECT_NE(emulator_now(), first);
  EXPECT_EQ(rows(breakpoints_page().w.list, 3), breakpoints);
  EXPECT_EQ(rows(watchpoints_page().w.list, 3), watchpoints);
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C50");
}

TEST_F(BridgeGuiTest, KillWhileRunningAndQuitLeaveNoEmulator) {
  build_window();
  start_bochs();
  click(control_bar().go_button);
  pump_for(300);
  ASSERT_EQ(target_running(), 1);
  pid_t first = emulator_now();
  click(main_window().start_button);  // Kill while running: SIGINT, then q
  EXPECT_EQ(link_seam().debugger_offline, 1);
  EXPECT_TRUE(process_ends(first, 8000));

  start_bochs();
  pid_t second = emulator_now();
  ASSERT_GT(second, 0);
  click(control_bar().step_button);
  quit_clicked(NULL, NULL);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_TRUE(process_ends(second, 8000)) << "Quit leaves no emulator";
}
