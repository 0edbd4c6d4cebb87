// The main window, the start and end of the debugger, and the ways of ending
// VUM, against the simulated PC through real pipes.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "views/cpu_state_panel.hpp"

class ShellTest : public GuiTest {};

static std::vector<std::string> tab_titles() {
  std::vector<std::string> titles;
  int n = gtk_notebook_get_n_pages(GTK_NOTEBOOK(notebook));
  for (int i = 0; i < n; i++) {
    GtkWidget *page = gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook), i);
    titles.push_back(gtk_notebook_get_tab_label_text(GTK_NOTEBOOK(notebook), page));
  }
  return titles;
}

TEST_F(ShellTest, MainWindowStartsOfflineWithItsWholeLayout) {
  build_window();
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(main_window)), "VUM -- https://vum.example.org/");
  int w = 0, h = 0;
  gtk_widget_get_size_request(main_window, &w, &h);
  EXPECT_EQ(w, 630);
  EXPECT_EQ(h, 500);
  EXPECT_EQ(tab_titles(), (std::vector<std::string>{"Breakpoints", "Watchpoints", "Memory",
                                                     "Structures", "Preferences", "History"}));
  EXPECT_EQ(gtk_notebook_get_tab_pos(GTK_NOTEBOOK(notebook)), GTK_POS_BOTTOM);
  EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(notebook)), 0);
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(state_panel));
  EXPECT_EQ(state_panel_shown, 0);

  // The bottom row, left to right.
  GList *row = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(start_button)));
  std::vector<std::string> labels;
  for (GList *l = row; l; l = l->next) labels.push_back(button_label(GTK_WIDGET(l->data)));
  g_list_free(row);
  EXPECT_EQ(labels, (std::vector<std::string>{" Start Bochs ", " Refresh All Windows ",
                                              " Show State ", " Quit "}));
  EXPECT_FALSE(active(start_button));
  EXPECT_TRUE(sensitive(start_button));
  EXPECT_TRUE(sensitive(show_state_button));
  EXPECT_FALSE(sensitive(refresh_all_button));
  EXPECT_EQ(debugger_offline, 1);
  EXPECT_EQ(row_count(history_list), 0) << "nothing writes to the history at start-up";
  EXPECT_EQ(printed.find("bochs"), std::string::npos);
}

TEST_F(ShellTest, StartThenKillIsTheExactDialogue) {
  build_window();
  start_bochs();
  EXPECT_EQ(button_label(start_button), " Kill Bochs ");
  EXPECT_TRUE(active(start_button));
  EXPECT_TRUE(sensitive(refresh_all_button));
  EXPECT_TRUE(wait_for_transcript({"s"}));
  int32_t pid = child_pid;
  EXPECT_NE(printed.find("bochs on\nSTART-0\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("PARENT-" + std::to_string(pid) + "\n"), std::string::npos);
  EXPECT_NE(printed.find("START-OK-" + std::to_string(pid) + "\n"), std::string::npos);
  EXPECT_TRUE(history_has("Starting Bochs"));

  click(start_button);
  EXPECT_EQ(button_label(start_button), " Start Bochs ");
  EXPECT_FALSE(active(start_button));
  EXPECT_EQ(debugger_offline, 1);
  EXPECT_FALSE(sensitive(refresh_all_button));
  EXPECT_TRUE(wait_for_transcript({"s", "q"}));
  EXPECT_NE(printed.find("bochs off\n"), std::string::npos);
  EXPECT_TRUE(history_has("Terminating Bochs"));
  // A child ended by Kill is not reported.
  pump_for(300);
  EXPECT_EQ(printed.find("DEAD-"), std::string::npos) << printed;
  EXPECT_FALSE(history_has("Lost connection to Bochs"));
  EXPECT_EQ(zombie_children(), 0);
}
