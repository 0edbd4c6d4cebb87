// Stop while the debugger's output is still on its way: every line written
// before the target stopped is read for what it is, and the bar shows where
// the target really stopped.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"

class ExecStopTest : public GuiTest {
 protected:
  // Boots the simulated PC with "l: nop; nop; jmp l" at 0x7C00: three
  // instructions, each at its own address, forever.
  void boot_three_instruction_loop() {
    static const unsigned char image[] = {0x90, 0x90, 0xeb, 0xfc};
    std::string path = work_dir + "/loop.img";
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(image, 1, sizeof image, f), sizeof image);
    fclose(f);
    setenv("VUM_SIM_IMAGE", path.c_str(), 1);
  }

  static uint32_t after(uint32_t address) { return address == 0x7C02 ? 0x7C00 : address + 1; }

  // The physical addresses of the log's instruction lines after `from`, the
  // text of a message line.
  std::vector<uint32_t> logged_addresses_after(const std::string &from) {
    fflush(history_page().log);
    std::string log = read_file("__vum.log__");
    size_t start = log.find(from);
    std::vector<uint32_t> out;
    if (start == std::string::npos) return out;
    std::string line;
    for (size_t i = log.find('\n', start) + 1; i < log.size(); i = log.find('\n', i) + 1) {
      line = log.substr(i, log.find('\n', i) - i);
      if (!line.empty() && line[0] != ':') out.push_back((uint32_t)strtoul(line.c_str(), NULL, 16));
    }
    return out;
  }
};

TEST_F(ExecStopTest, StopWhileTracingKeepsEveryTracedInstructionAndShowsTheRealStop) {
  boot_three_instruction_loop();
  build_window();
  start_bochs();
  click(preferences_page().trace_button);
  ASSERT_EQ(tracing_on(), 1);
  click(control_bar().go_button);
  // Let the debugger run well ahead of what VUM has read.
  pump_for(300);
  ASSERT_EQ(target_running(), 1);
  click(control_bar().stop_button);
  ASSERT_EQ(target_running(), 0);

  std::vector<uint32_t> rows = logged_addresses_after(": GO...");
  ASSERT_GT(rows.size(), 100u) << "the run traced a good many instructions";
  // Every instruction the target executed has its row, in order, and the
  // last row is where it stopped.
  for (size_t i = 1; i < rows.size(); i++)
    ASSERT_EQ(rows[i], after(rows[i - 1])) << "row " << i << " of " << rows.size();
  char shown[16];
  snprintf(shown, sizeof shown, "%.8X", rows.back());
  EXPECT_EQ(entry_text(control_bar().physical_entry), shown);
  EXPECT_EQ(current_location().physical_address, rows.back());

  // The debugger agrees: one step on is the next instruction of the loop.
  click(control_bar().step_button);
  EXPECT_EQ(current_location().physical_address, after(rows.back()));
  std::vector<std::string> t = transcript();
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t[t.size() - 2], "s");
  EXPECT_EQ(t.back(), "dump_cpu");
}

TEST_F(ExecStopTest, StopAsABreakpointIsReachedReadsTheBreakpointReport) {
  boot_three_instruction_loop();
  build_window();
  start_bochs();
  std::string reply;
  exchange(&reply, "pb 0x7c02");
  click(control_bar().go_button);
  // The report is written, but the main loop has not looked at it yet.
  for (int i = 0; i < 200 && !link_seam().reply_stream.buffered(); i++) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(link_seam().reply_stream.fd(), &readable);
    struct timeval wait = {0, 10000};
    if (select(link_seam().reply_stream.fd() + 1, &readable, NULL, NULL, &wait) > 0) break;
  }
  ASSERT_TRUE(target_running());
  click(control_bar().stop_button);
  EXPECT_FALSE(target_running());
  EXPECT_EQ(current_location().physical_address, 0x7C02u);
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C02");
  std::vector<std::string> h = history_texts();
  ASSERT_GE(h.size(), 2u);
  EXPECT_EQ(h.back(), "Stopped on a breakpoint");
  // The dialogue is in step: a step goes on from the breakpoint.
  click(control_bar().step_button);
  EXPECT_EQ(current_location().physical_address, 0x7C00u);
}
