// The fixture of the GUI tests through the bridge: VUM's real window in this
// process, `bochs` on PATH being the bridge in front of the real Bochs 2.7 on
// the demo floppy, and the bridge's record of the old-dialect lines it
// received as the transcript. Whatever the test's outcome, the emulator goes
// with the test.
#pragma once

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bridge_process.hpp"
#include "exec/control_bar.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "support/gui_fixture.hpp"
#include "link/link_state.hpp"

class BridgeGuiTest : public GuiTest {
 protected:
  typedef std::vector<std::string> Lines;

  void SetUp() override {
    GuiTest::SetUp();
    std::string path = std::string(VUM_BRIDGE_BIN_DIR) + ":" + getenv("PATH");
    setenv("PATH", path.c_str(), 1);
    setenv("VUM_BRIDGE_TRANSCRIPT", transcript_path.c_str(), 1);
  }

  void TearDown() override {
    // Whatever happened, the emulator goes with the test.
    pid_t emulator = link_seam().debugger_offline ? 0 : emulator_now();
    if (!link_seam().debugger_offline) stop_debugger();
    if (emulator > 0) {
      EXPECT_TRUE(process_ends(emulator, 8000)) << "an emulator was left behind";
    }
    GuiTest::TearDown();
  }

  // The emulator under the bridge VUM started.
  pid_t emulator_now() {
    std::vector<pid_t> kids = emulator_children(link_seam().child_pid);
    return kids.empty() ? 0 : kids[0];
  }

  void add_breakpoint_at(int kind, const char *address) {
    click(breakpoints_page().w.kind_group->buttons[kind].button);
    type_into(breakpoints_page().w.entry, address);
    click(breakpoints_page().w.add_button);
  }
  void add_watchpoint_at(int kind, const char *address) {
    click(watchpoints_page().w.kind_group->buttons[kind].button);
    type_into(watchpoints_page().w.entry, address);
    click(watchpoints_page().w.add_button);
  }

  bool go_until_stopped(int timeout_ms = 20000) {
    click(control_bar().go_button);
    return pump_until([] { return target_running() == 0; }, timeout_ms);
  }

  Lines rows(GtkWidget *list, int columns) {
    Lines out;
    for (int r = 0; r < row_count(list); r++) {
      std::string row;
      for (int c = 0; c < columns; c++) row += (c ? "|" : "") + cell(list, r, c);
      out.push_back(row);
    }
    return out;
  }

  // The transcript from line `from` on.
  Lines lines_since(size_t from) const {
    Lines t = transcript();
    return Lines(t.begin() + (long)std::min(from, t.size()), t.end());
  }
};
