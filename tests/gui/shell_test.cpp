// The main window, the start and end of the debugger, and the ways of ending
// VUM, against the simulated PC through real pipes.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "exec/control_bar.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "views/cpu_state_panel.hpp"
#include "link/link_state.hpp"

class ShellTest : public GuiTest {};

static std::vector<std::string> tab_titles() {
  std::vector<std::string> titles;
  int n = gtk_notebook_get_n_pages(GTK_NOTEBOOK(main_window().notebook));
  for (int i = 0; i < n; i++) {
    GtkWidget *page = gtk_notebook_get_nth_page(GTK_NOTEBOOK(main_window().notebook), i);
    titles.push_back(gtk_notebook_get_tab_label_text(GTK_NOTEBOOK(main_window().notebook), page));
  }
  return titles;
}

TEST_F(ShellTest, MainWindowStartsOfflineWithItsWholeLayout) {
  build_window();
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(main_window().window)), "VUM -- simulated PC");
  // It starts at its default size and never gets smaller than its contents.
  int w = 0, h = 0;
  gtk_window_get_default_size(GTK_WINDOW(main_window().window), &w, &h);
  EXPECT_EQ(w, 630);
  EXPECT_EQ(h, 500);
  gtk_widget_get_size_request(main_window().window, &w, &h);
  EXPECT_EQ(w, -1);
  EXPECT_EQ(h, -1);
  EXPECT_EQ(tab_titles(), (std::vector<std::string>{"Breakpoints", "Watchpoints", "Memory", "Structures",
                                                     "Preferences", "History", "Guest Output", "Code",
                                                     "Console", "Tables", "Search"}));
  EXPECT_EQ(gtk_notebook_get_tab_pos(GTK_NOTEBOOK(main_window().notebook)), GTK_POS_BOTTOM);
  EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(main_window().notebook)), 0);
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(main_window().state_panel));
  EXPECT_EQ(state_panel_shown(), 0);

  // The bottom row, left to right.
  GList *row = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(main_window().start_button)));
  std::vector<std::string> labels;
  for (GList *l = row; l; l = l->next) labels.push_back(button_label(GTK_WIDGET(l->data)));
  g_list_free(row);
  EXPECT_EQ(labels, (std::vector<std::string>{" Start Bochs ", " Refresh All Windows ",
                                              " Show State ", " Quit "}));
  EXPECT_FALSE(active(main_window().start_button));
  EXPECT_TRUE(sensitive(main_window().start_button));
  EXPECT_TRUE(sensitive(main_window().show_state_button));
  EXPECT_FALSE(sensitive(main_window().refresh_all_button));
  EXPECT_EQ(link_seam().debugger_offline, 1);
  EXPECT_EQ(row_count(history_page().list), 0) << "nothing writes to the history at start-up";
  EXPECT_EQ(printed.find("bochs"), std::string::npos);
}

TEST_F(ShellTest, StartThenKillIsTheExactDialogue) {
  build_window();
  start_bochs();
  EXPECT_EQ(button_label(main_window().start_button), " Kill Bochs ");
  EXPECT_TRUE(active(main_window().start_button));
  EXPECT_TRUE(sensitive(main_window().refresh_all_button));
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch"}));
  int32_t pid = link_seam().child_pid;
  EXPECT_NE(printed.find("bochs on\nSTART-0\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("PARENT-" + std::to_string(pid) + "\n"), std::string::npos);
  EXPECT_NE(printed.find("START-OK-" + std::to_string(pid) + "\n"), std::string::npos);
  EXPECT_TRUE(history_has("Starting Bochs"));

  click(main_window().start_button);
  EXPECT_EQ(button_label(main_window().start_button), " Start Bochs ");
  EXPECT_FALSE(active(main_window().start_button));
  EXPECT_EQ(link_seam().debugger_offline, 1);
  EXPECT_FALSE(sensitive(main_window().refresh_all_button));
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "q"}));
  EXPECT_NE(printed.find("bochs off\n"), std::string::npos);
  EXPECT_TRUE(history_has("Terminating Bochs"));
  // A child ended by Kill is not reported.
  pump_for(300);
  EXPECT_EQ(printed.find("DEAD-"), std::string::npos) << printed;
  EXPECT_FALSE(history_has("Lost connection to Bochs"));
  EXPECT_EQ(zombie_children(), 0);
}

TEST_F(ShellTest, QuitWhileOfflineSendsNothingAndClosesTheLog) {
  build_window();
  GtkWidget *quit = nullptr;
  GList *row = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(main_window().start_button)));
  quit = GTK_WIDGET(g_list_last(row)->data);
  g_list_free(row);
  click(quit);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_EQ(history_page().log, nullptr);
  EXPECT_EQ(link_seam().child_pid, 0) << "no child was ever started";
  EXPECT_EQ(read_file(transcript_path), "");
  EXPECT_EQ(row_count(history_page().list), 0);
}

TEST_F(ShellTest, QuitWhileStoppedTerminatesTheDebuggerFirst) {
  build_window();
  start_bochs();
  quit_clicked(NULL, NULL);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "q"}));
  EXPECT_EQ(history_page().log, nullptr);
  std::string log = read_file("__vum.log__");
  EXPECT_NE(log.find(": Starting Bochs\n"), std::string::npos) << log;
  EXPECT_NE(log.find(": Terminating Bochs\n"), std::string::npos) << log;
}

TEST_F(ShellTest, ClosingTheMainWindowFlushesRepeatsThenTerminates) {
  build_window();
  start_bochs();
  history_page().fold.count = 2;  // a pending count, as after folded stops
  gtk_widget_destroy(main_window().window);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "q"}));
  std::string log = read_file("__vum.log__");
  size_t repeated = log.find(": repeated 2 times\n");
  size_t terminating = log.find(": Terminating Bochs\n");
  ASSERT_NE(repeated, std::string::npos) << log;
  ASSERT_NE(terminating, std::string::npos) << log;
  EXPECT_LT(repeated, terminating);
}

TEST_F(ShellTest, TheWindowBuiltAgainAfterItWasClosedLeavesNoButtonGroupBehind) {
  build_window();
  int groups = button_groups_alive();
  EXPECT_GE(groups, 5) << "the point kinds, the memory form";
  gtk_widget_destroy(main_window().window);
  EXPECT_EQ(button_groups_alive(), 0) << "each group goes with its buttons";
  main_window().main_loop_left = 0;
  build_window();
  EXPECT_EQ(button_groups_alive(), groups);
  start_bochs();
  click(breakpoints_page().w.kind_group->buttons[1].button);
  EXPECT_EQ(breakpoints_page().w.kind_group->selected, 1u);
  gtk_widget_destroy(main_window().window);
  EXPECT_EQ(button_groups_alive(), 0);
}

// A directory holding a "bochs" that is a shell script with the given body.
static std::string fake_bochs_dir(const std::string &work, const std::string &body) {
  std::string dir = work + "/fakebin";
  mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/bochs") << "#!/bin/sh\n" << body << "\n";
  chmod((dir + "/bochs").c_str(), 0755);
  return dir;
}

TEST_F(ShellTest, BochsMissingFromPathKeepsTheWindowAndSaysWhy) {
  build_window();
  std::string empty = work_dir + "/empty";
  mkdir(empty.c_str(), 0755);
  const std::string path = getenv("PATH");
  setenv("PATH", empty.c_str(), 1);
  gint64 began = g_get_monotonic_time();
  click(main_window().start_button);
  setenv("PATH", path.c_str(), 1);
  EXPECT_LT(g_get_monotonic_time() - began, promised(2000000)) << "reported within 2 s";
  // The window stays, offline, with the shell's own words in the history.
  EXPECT_EQ(main_window().main_loop_left, 0);
  EXPECT_FALSE(debugger_online());
  EXPECT_FALSE(active(main_window().start_button));
  EXPECT_EQ(button_label(main_window().start_button), " Start Bochs ");
  std::vector<std::string> h = history_texts();
  ASSERT_GE(h.size(), 2u);
  EXPECT_EQ(h[h.size() - 2], "Bochs did not start:");
  EXPECT_NE(h.back().find("bochs: not found"), std::string::npos) << h.back();
  EXPECT_NE(printed.find("VUM: Bochs did not start: "), std::string::npos) << printed;
  EXPECT_EQ(printed.find("START-OK"), std::string::npos);
  EXPECT_FALSE(history_has("Starting Bochs"));
  EXPECT_NE(history_page().log, nullptr) << "the history goes on";
  EXPECT_EQ(zombie_children(), 0);
  pump_for(200);
  EXPECT_EQ(printed.find("bochs on"), printed.rfind("bochs on")) << "no second child";
  EXPECT_EQ(printed.find("DEAD-"), std::string::npos) << "no loss is reported of a debugger that never started";
}

TEST_F(ShellTest, ADebuggerEndingBeforeItsFirstPromptIsAFailedStartWithItsLastWords) {
  build_window();
  const std::string path = getenv("PATH");
  setenv("PATH",
         fake_bochs_dir(work_dir, "echo 'loading plugins' >&2; echo >&2; "
                                  "echo 'ROM: could not open image file /nowhere/BIOS' >&2; exit 3")
             .c_str(),
         1);
  click(main_window().start_button);
  EXPECT_EQ(main_window().main_loop_left, 0);
  EXPECT_FALSE(debugger_online());
  std::vector<std::string> h = history_texts();
  ASSERT_GE(h.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(h.end() - 3, h.end()),
            (std::vector<std::string>{"Bochs did not start:", "loading plugins",
                                      "ROM: could not open image file /nowhere/BIOS"}));
  EXPECT_NE(printed.find("VUM: Bochs did not start: ROM: could not open image file /nowhere/BIOS\n"),
            std::string::npos)
      << printed;
  EXPECT_EQ(zombie_children(), 0);

  // Mended, it starts as usual.
  setenv("PATH", path.c_str(), 1);
  start_bochs();
  EXPECT_TRUE(debugger_online());
}

TEST_F(ShellTest, ADebuggerThatNeverPromptsIsEndedAtTheStartDeadline) {
  build_window();
  link_seam().startup_deadline_ms = 300;
  const std::string path = getenv("PATH");
  setenv("PATH",
         fake_bochs_dir(work_dir, "echo 'Please choose one: [1] continue [2] die' >&2; exec /bin/sleep 60").c_str(),
         1);
  click(main_window().start_button);
  setenv("PATH", path.c_str(), 1);
  EXPECT_FALSE(debugger_online());
  std::vector<std::string> h = history_texts();
  ASSERT_GE(h.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(h.end() - 3, h.end()),
            (std::vector<std::string>{"Bochs did not start:", "Please choose one: [1] continue [2] die",
                                      "No prompt from Bochs within 0.3 seconds"}));
  EXPECT_FALSE(child_alive(link_seam().child_pid));
  EXPECT_EQ(zombie_children(), 0);
}

TEST_F(ShellTest, DebuggerLostWhileStoppedGoesOfflineAndCanStartAgain) {
  build_window();
  start_bochs();
  ASSERT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch"}));
  int32_t first = link_seam().child_pid;
  ASSERT_EQ(kill(first, SIGKILL), 0);
  ASSERT_TRUE(pump_until([this] { return history_has("Lost connection to Bochs"); }));
  EXPECT_NE(printed.find("DEAD-" + std::to_string(first) + "\n"), std::string::npos);
  EXPECT_EQ(link_seam().debugger_offline, 1);
  EXPECT_EQ(link_seam().child_lost, 0);
  EXPECT_FALSE(active(main_window().start_button));
  EXPECT_EQ(button_label(main_window().start_button), " Start Bochs ");
  EXPECT_FALSE(sensitive(main_window().refresh_all_button));
  EXPECT_FALSE(history_has("Terminating Bochs")) << "nothing is written to a lost child";

  start_bochs();
  EXPECT_NE(link_seam().child_pid, first);
  EXPECT_NE(printed.find("START-" + std::to_string(first) + "\n"), std::string::npos);
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "s", "dump_cpu", "info break", "watch"}));
  EXPECT_EQ(zombie_children(), 0);
}

TEST_F(ShellTest, WritingToALostChildNeitherKillsNorBlocks) {
  build_window();
  start_bochs();
  pid_t pid = link_seam().child_pid;
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  // Wait, without running the main loop, until the child is gone and reaped.
  for (int i = 0; i < 500 && kill(pid, 0) == 0; i++) g_usleep(10000);
  ASSERT_NE(kill(pid, 0), 0);
  // Its end is recorded but not handled yet: the link still looks up.
  ASSERT_EQ(link_seam().debugger_offline, 0);
  std::string reply;
  for (int i = 0; i < 100; i++) exchange(&reply, "s");  // end of file ends each wait at once
  int left = 0;
  while (link_seam().reply_stream.get() != -1 && left < 100000) left++;
  EXPECT_LT(left, 100000) << "the reply stream reaches its end";
  ASSERT_TRUE(pump_until([this] { return history_has("Lost connection to Bochs"); }));
}

TEST_F(ShellTest, TenStartKillCyclesLeaveNoZombiesAndNoOpenPipes) {
  build_window();
  start_bochs();
  click(main_window().start_button);
  int before = open_descriptors();
  for (int i = 0; i < 10; i++) {
    start_bochs();
    if (i % 2 == 0) {
      click(main_window().start_button);  // Kill
    } else {
      kill(link_seam().child_pid, SIGKILL);  // lost: its streams are released at the next start
      ASSERT_TRUE(pump_until([this] { return !active(main_window().start_button); }));
    }
  }
  ASSERT_TRUE(pump_until([this] { return zombie_children() == 0; }, 10000))
      << zombie_children() << " zombies";
  start_bochs();
  click(main_window().start_button);
  EXPECT_EQ(open_descriptors(), before) << "pipes of ended children stay open";
}

// Addresses and values in columns are set in a monospace font: the lists,
// the control bar's entries and the address entries.
TEST_F(ShellTest, HexadecimalColumnsAreSetInAMonospaceFont) {
  build_window();
  auto family = [](GtkWidget *w) {
    gtk_widget_ensure_style(w);
    const char *f = pango_font_description_get_family(w->style->font_desc);
    return std::string(f ? f : "");
  };
  for (GtkWidget *w : {history_page().list, breakpoints_page().w.list, watchpoints_page().w.list,
                       control_bar().physical_entry, control_bar().location_entry, control_bar().instruction_entry,
                       breakpoints_page().w.entry, watchpoints_page().w.entry})
    EXPECT_EQ(family(w), "Monospace") << gtk_widget_get_name(w);
  // Words elsewhere keep the desktop's font.
  EXPECT_NE(family(main_window().start_button), "Monospace");
}
