// The Console page against the simulated PC: the command echoed before its
// reply, Step, Go and Next through VUM's own controls, refusals that send
// nothing, Up and Down, and the lists read again after a command that
// changes them.
#include <gdk/gdkkeysyms.h>

#include <string>
#include <vector>

#include "console/console_page.hpp"
#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"

namespace {

typedef std::vector<std::string> Lines;

class ConsolePageTest : public GuiTest {
 protected:
  // Starts the debugger with the Console page shown, as a user types into it.
  void start() {
    build_window();
    GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
    gtk_notebook_set_current_page(notebook, gtk_notebook_page_num(notebook, page_of(console_page().entry)));
    start_bochs();
    ASSERT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch"}));
    new_commands();
  }

  Lines new_commands() {
    Lines all = transcript();
    Lines out(all.begin() + (long)std::min(seen, all.size()), all.end());
    seen = all.size();
    return out;
  }

  // Types a line and presses Enter.
  void enter(const std::string &line) {
    type_into(console_page().entry, line);
    activate(console_page().entry);
  }

  // The text added to the view since the last call.
  std::string new_text() {
    std::string all = console_text();
    std::string out = all.substr(std::min(shown, all.size()));
    shown = all.size();
    return out;
  }

  void key(guint keyval) {
    GdkEventKey event = {};
    event.type = GDK_KEY_PRESS;
    event.window = console_page().entry->window;
    event.keyval = keyval;
    gtk_widget_event(console_page().entry, (GdkEvent *)&event);
  }

  std::string entry() { return entry_text(console_page().entry); }

  // The notebook page that holds a widget.
  static GtkWidget *page_of(GtkWidget *widget) {
    while (gtk_widget_get_parent(widget) != main_window().notebook) widget = gtk_widget_get_parent(widget);
    return widget;
  }

  size_t seen = 0, shown = 0;
};

}  // namespace

TEST_F(ConsolePageTest, TheCommandIsEchoedBeforeItsReply) {
  build_window();
  EXPECT_FALSE(sensitive(console_page().entry)) << "offline";
  EXPECT_FALSE(sensitive(console_page().send_button));
  start();
  EXPECT_TRUE(sensitive(console_page().entry));
  enter("x /2bx 0x7c00");
  EXPECT_EQ(new_commands(), (Lines{"x /2bx 0x7c00"}));
  EXPECT_EQ(new_text(), "> x /2bx 0x7c00\n0x00007c00 <bogus+0>:\t0xfa\t0x31\n");
  EXPECT_EQ(entry(), "") << "the entry is emptied for the next command";

  enter("  u /2 0x7c00 ");
  EXPECT_EQ(new_commands(), (Lines{"u /2 0x7c00"}));
  EXPECT_EQ(new_text(),
            "> u /2 0x7c00\n"
            "00007c00: (                    ): cli                      ; fa\n"
            "00007c01: (                    ): xor ax, ax               ; 31c0\n");

  // A reply of the prompt alone: the echo only.
  enter("setpmem 0x600 1 0x41");
  EXPECT_EQ(new_text(), "> setpmem 0x600 1 0x41\n");
  enter("nonsense");
  EXPECT_EQ(new_commands(), (Lines{"setpmem 0x600 1 0x41", "nonsense"}));
  std::string reply = new_text();
  EXPECT_EQ(reply.substr(0, 11), "> nonsense\n");
  EXPECT_GT(reply.size(), 11u) << "the debugger's own words for it";

  // Nothing typed: nothing sent (the debugger would repeat its last command).
  enter("   ");
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_EQ(new_text(), "");
  click(console_page().send_button);
  EXPECT_EQ(new_commands(), Lines{});
}

TEST_F(ConsolePageTest, StepGoAndNextGoThroughVumsOwnControls) {
  start();
  enter("s");
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"}));
  EXPECT_EQ(new_text(),
            "> s\nDone with VUM's Step, so that the views follow the stop\n"
            "Stopped at 0000:00007C01 (00007C01): xor ax, ax\n");
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C01") << "the bar follows";
  EXPECT_EQ(history_texts().back(), "xor ax, ax");

  // Next where it is not offered: refused, as the greyed button would be.
  enter("n");
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_EQ(new_text(), "> n\nRefused: Next steps over calls, interrupts, loops and conditional jumps only; use Step\n");

  // To the call at 7C0D, then Next over it.
  while (current_location().physical_address != 0x7c0d) run_step();
  new_commands();
  new_text();
  enter("next");
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7C10", "c", "dump_cpu", "d 1"}));
  EXPECT_EQ(new_text(),
            "> next\nDone with VUM's Next, so that the views follow the stop\n"
            "Stopped at 0000:00007C10 (00007C10): mov cx, 0x5\n");

  // Go, then Stop.
  enter("c");
  EXPECT_TRUE(target_running());
  EXPECT_FALSE(sensitive(console_page().entry)) << "no command while the target runs";
  pump_for(100);
  click(control_bar().stop_button);
  ASSERT_FALSE(target_running());
  EXPECT_TRUE(sensitive(console_page().entry));
  std::string text = new_text();
  EXPECT_EQ(text.substr(0, 58), "> c\nDone with VUM's Go, so that the views follow the stop\n");
  EXPECT_NE(text.find("Stopped at 0000:"), std::string::npos) << text;
  EXPECT_EQ(new_commands(), (Lines{"c", "#SIGINT", "dump_cpu"}));
}

TEST_F(ConsolePageTest, RefusalsSendNothing) {
  start();
  struct Case {
    const char *typed;
    const char *said;
  } cases[] = {
      {"q", "Refused: end the debugger with Kill Bochs, or VUM with Quit"},
      {"exit", "Refused: end the debugger with Kill Bochs, or VUM with Quit"},
      {"trace-on", "Refused: tracing is switched on the Preferences page, so that the History follows it"},
      {"s 100", "Refused: VUM steps one instruction at a time (Step, F11), so that every stop is shown"},
      {"info break; c", "Refused: one command at a time, without ';'"},
      {"c 10", "Refused: use Go (F5)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    enter(c.typed);
    EXPECT_EQ(new_text(), std::string("> ") + c.typed + "\n" + c.said + "\n");
  }
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_FALSE(link_seam().debugger_offline) << "the debugger is still there";
  EXPECT_EQ(console_page().recalled.size(), 6u) << "refused lines can be recalled and mended";
}

TEST_F(ConsolePageTest, UpAndDownRecallEarlierCommands) {
  start();
  enter("info break");
  enter("x /1wx 0x500");
  enter("x /1wx 0x500");  // the same twice is kept once
  type_into(console_page().entry, "wat");
  key(GDK_Up);
  EXPECT_EQ(entry(), "x /1wx 0x500");
  key(GDK_Up);
  EXPECT_EQ(entry(), "info break");
  key(GDK_Up);
  EXPECT_EQ(entry(), "info break") << "the oldest stays";
  key(GDK_Down);
  EXPECT_EQ(entry(), "x /1wx 0x500");
  key(GDK_Down);
  EXPECT_EQ(entry(), "wat") << "back to the line being typed";
  key(GDK_Down);
  EXPECT_EQ(entry(), "wat");
  key(GDK_Up);
  activate(console_page().entry);
  EXPECT_EQ(new_commands(), (Lines{"info break", "x /1wx 0x500", "x /1wx 0x500", "x /1wx 0x500"}));
}

TEST_F(ConsolePageTest, CommandsThatChangeThePointsUpdateTheirPages) {
  start();
  enter("pb 0x7c10");
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7c10", "info break", "watch"}));
  ASSERT_EQ(row_count(breakpoints_page().w.list), 1);
  EXPECT_EQ(cell(breakpoints_page().w.list, 0, 2), "00007C10");
  enter("watch write 0x500");
  EXPECT_EQ(new_commands(), (Lines{"watch write 0x500", "info break", "watch"}));
  EXPECT_EQ(row_count(watchpoints_page().w.list), 1);
  enter("d 1");
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);
}

TEST_F(ConsolePageTest, TheTextKeepsItsBound) {
  start();
  // Each dump reply is some 2 KiB; the oldest lines go.
  for (int i = 0; i < 300; i++) enter("x /256bx 0x7c00");
  std::string text = console_text();
  EXPECT_LE(text.size(), console_text_limit);
  EXPECT_GT(text.size(), console_text_limit - 4096);
  EXPECT_EQ(text.substr(0, 2), "0x") << "it begins with a whole line";
  EXPECT_EQ(text.substr(text.size() - 1), "\n");
  // And the view shows its end.
  GtkAdjustment *scroll = gtk_text_view_get_vadjustment(GTK_TEXT_VIEW(console_page().view));
  ASSERT_TRUE(pump_until([&] { return scroll->upper > scroll->page_size && scroll->value + scroll->page_size >= scroll->upper - 1; }, 5000))
      << scroll->value << " + " << scroll->page_size << " of " << scroll->upper;
}
