// The main window remembered: its size, the state panel and the page in
// front, saved by every way of ending VUM and brought back at the next
// start, from a missing, a valid or a broken file; and the title.
#include <gdk/gdkkeysyms.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "shell/command_line.hpp"
#include "shell/main_window.hpp"
#include "shell/window_memory.hpp"
#include "support/settings_fixture.hpp"
#include "views/cpu_state_panel.hpp"

namespace {

class WindowMemoryTest : public SettingsTest {
 protected:
  std::string file() const { return work_dir + "/config/vum/window"; }

  void write_memory(const std::string &text) {
    ASSERT_EQ(g_mkdir_with_parents((work_dir + "/config/vum").c_str(), 0700), 0);
    std::ofstream(file()) << text;
  }

  void show_window() {
    build_window();
    ASSERT_TRUE(pump_until([] { return gdk_window_is_viewable(main_window().window->window); }));
  }

  // Waits until the window has the size asked for (the X server's answer
  // comes through the main loop).
  bool window_size_is(int width, int height) {
    return pump_until(
        [&] {
          int w = 0, h = 0;
          gdk_drawable_get_size(main_window().window->window, &w, &h);
          return w == width && h == height;
        },
        5000);
  }

  std::string current_page_title() const {
    GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
    return gtk_notebook_get_tab_label_text(notebook,
                                           gtk_notebook_get_nth_page(notebook, gtk_notebook_get_current_page(notebook)));
  }

  void show_page(const std::string &title) {
    GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
    for (int i = 0; i < gtk_notebook_get_n_pages(notebook); i++)
      if (title == gtk_notebook_get_tab_label_text(notebook, gtk_notebook_get_nth_page(notebook, i)))
        gtk_notebook_set_current_page(notebook, i);
    ASSERT_EQ(current_page_title(), title);
  }

  // What the file says, as VUM would read it at its next start.
  WindowMemory saved() {
    printed.clear();
    WindowMemory m = read_window_memory();
    EXPECT_EQ(printed, "") << "the file VUM wrote reads back without a message";
    return m;
  }

  void expect_defaults() {
    EXPECT_TRUE(window_size_is(630, 500));
    EXPECT_FALSE(state_panel_shown());
    EXPECT_FALSE(active(main_window().show_state_button));
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(main_window().notebook)), 0);
  }
};

}  // namespace

TEST_F(WindowMemoryTest, TheFileIsUnderTheUsersConfigurationDirectory) {
  EXPECT_EQ(window_memory_path(), work_dir + "/config/vum/window");
}

TEST_F(WindowMemoryTest, AMissingFileGivesTheDefaultsWithAMessage) {
  show_window();
  EXPECT_NE(printed.find("VUM: No window settings in " + file() + " yet, using defaults\n"), std::string::npos)
      << printed;
  expect_defaults();
}

TEST_F(WindowMemoryTest, AValidFileBringsBackSizeStatePanelAndPage) {
  write_memory("# kept by VUM\n[Window]\nwidth=1010\nheight=750\nstate-panel=true\npage=History\n");
  show_window();
  EXPECT_TRUE(window_size_is(1010, 750)) << "the size as left, not grown again for the panel";
  EXPECT_TRUE(state_panel_shown());
  EXPECT_TRUE(GTK_WIDGET_VISIBLE(main_window().state_panel));
  EXPECT_TRUE(active(main_window().show_state_button));
  EXPECT_EQ(button_label(main_window().show_state_button), " Hide State ");
  EXPECT_TRUE(gtk_toggle_action_get_active(
      GTK_TOGGLE_ACTION(gtk_action_group_get_action(main_window().menus.actions, "ShowState"))));
  EXPECT_EQ(current_page_title(), "History");
  EXPECT_EQ(printed.find("window settings"), std::string::npos) << printed;
  EXPECT_EQ(transcript(), Lines{}) << "offline, the panel asks nothing";
}

TEST_F(WindowMemoryTest, ABrokenFileGivesTheDefaultsWithAMessage) {
  write_memory("[Window]\nwidth=820\nheight=640\nstate-panel=perhaps\npage=History\n");
  show_window();
  EXPECT_NE(printed.find("VUM: Couldn't read window settings from " + file() + " ("), std::string::npos) << printed;
  EXPECT_NE(printed.find("), using defaults\n"), std::string::npos) << printed;
  expect_defaults();
}

// Read without a window: each broken file gives every default and one
// message; a value the file leaves out is the default, quietly.
TEST_F(WindowMemoryTest, WhatEachFileGives) {
  struct Case {
    const char *text;  // NULL: a directory in the file's place
    bool broken;
    int width, height;
    bool state_shown;
    const char *page;
  } cases[] = {
      {"[Window]\nwidth=900\nheight=700\nstate-panel=false\npage=Memory\n", false, 900, 700, false, "Memory"},
      {"[Window]\npage=Structures\n", false, 630, 500, false, "Structures"},
      {"[Window]\nstate-panel=true\n", false, 630, 500, true, ""},
      {"[Window]\nwidth=100\nheight=16384\n", false, 100, 16384, false, ""},
      {"", false, 630, 500, false, ""},
      {"[Other]\nwidth=900\n", false, 630, 500, false, ""},
      {"width=900\n", true, 630, 500, false, ""},
      {"not a key file at all\n", true, 630, 500, false, ""},
      {"[Window]\nwidth=wide\npage=Memory\n", true, 630, 500, false, ""},
      {"[Window]\npage=Memory\nwidth=99\n", true, 630, 500, false, ""},
      {"[Window]\nheight=16385\n", true, 630, 500, false, ""},
      {"[Window]\nheight=-500\n", true, 630, 500, false, ""},
      {"[Window]\nstate-panel=yes please\npage=Memory\n", true, 630, 500, false, ""},
      {"[Window]\nwidth=900\n\xff\xfe\n", true, 630, 500, false, ""},
      {NULL, true, 630, 500, false, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text ? c.text : "<directory>");
    if (system(("rm -rf '" + work_dir + "/config'").c_str()) != 0) FAIL();
    if (c.text)
      write_memory(c.text);
    else
      ASSERT_EQ(g_mkdir_with_parents(file().c_str(), 0700), 0);
    printed.clear();
    WindowMemory m = read_window_memory();
    EXPECT_EQ(m.width, c.width);
    EXPECT_EQ(m.height, c.height);
    EXPECT_EQ(m.state_shown, c.state_shown);
    EXPECT_EQ(m.page, c.page);
    if (c.broken) {
      EXPECT_EQ(printed.rfind("VUM: Couldn't read window settings from " + file() + " (", 0), 0u) << printed;
      EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one message";
    } else {
      EXPECT_EQ(printed, "");
    }
  }
}

TEST_F(WindowMemoryTest, APageThatIsNoMoreLeavesTheFirstInFront) {
  write_memory("[Window]\nwidth=700\nheight=550\npage=Gone Page\n");
  show_window();
  EXPECT_TRUE(window_size_is(700, 550));
  EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(main_window().notebook)), 0);
  EXPECT_EQ(printed.find("window settings"), std::string::npos) << printed;
}

// Ending VUM saves the window; building it again (the next start) brings it
// back as it was left.
TEST_F(WindowMemoryTest, TheWindowComesBackAsItWasLeft) {
  show_window();
  gtk_window_resize(GTK_WINDOW(main_window().window), 1010, 750);
  ASSERT_TRUE(window_size_is(1010, 750));
  click(main_window().show_state_button);  // room enough: the window keeps its size
  show_page("Structures");
  gtk_widget_destroy(main_window().window);  // closed: one of the ways to end VUM
  WindowMemory m = saved();
  EXPECT_EQ(m.width, 1010);
  EXPECT_EQ(m.height, 750);
  EXPECT_TRUE(m.state_shown);
  EXPECT_EQ(m.page, "Structures");

  main_window().main_loop_left = 0;
  show_window();
  EXPECT_TRUE(window_size_is(1010, 750));
  EXPECT_TRUE(state_panel_shown());
  EXPECT_EQ(current_page_title(), "Structures");
  // And back to the defaults, which are saved too.
  click(main_window().show_state_button);
  gtk_window_resize(GTK_WINDOW(main_window().window), 630, 500);
  ASSERT_TRUE(window_size_is(630, 500));
  show_page("Breakpoints");
  click(main_window().quit_button);
  m = saved();
  EXPECT_EQ(m.width, 630);
  EXPECT_EQ(m.height, 500);
  EXPECT_FALSE(m.state_shown);
  EXPECT_EQ(m.page, "Breakpoints");
}

// Every way of ending VUM saves the window first.
class WindowSavedOnQuit : public WindowMemoryTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(WindowSavedOnQuit, TheWindowIsSaved) {
  std::string way = GetParam();
  show_window();
  gtk_window_resize(GTK_WINDOW(main_window().window), 1000, 745);
  ASSERT_TRUE(window_size_is(1000, 745));
  click(main_window().show_state_button);
  show_page("Memory");
  ASSERT_NE(access(file().c_str(), F_OK), 0) << "nothing is saved before the end";
  if (way == "quit button") {
    click(main_window().quit_button);
  } else if (way == "ctrl+q") {
    GdkWindow *w = main_window().window->window;
    ASSERT_TRUE(simulate_key(w, GDK_q, GDK_CONTROL_MASK));
  } else if (way == "window closed") {
    close_by_window_manager(main_window().window);
  } else if (way == "SIGTERM") {
    raise(SIGTERM);
  }
  ASSERT_TRUE(pump_until([] { return main_window().main_loop_left == 1; }));
  WindowMemory m = saved();
  EXPECT_EQ(m.width, 1000);
  EXPECT_EQ(m.height, 745);
  EXPECT_TRUE(m.state_shown);
  EXPECT_EQ(m.page, "Memory");
}

INSTANTIATE_TEST_SUITE_P(EveryWay, WindowSavedOnQuit,
                         ::testing::Values("quit button", "ctrl+q", "window closed", "SIGTERM"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                           std::string name;
                           for (const char *p = info.param; *p; p++) name += isalnum((unsigned char)*p) ? *p : '_';
                           return name;
                         });

TEST_F(WindowMemoryTest, AWindowThatCannotBeSavedIsNamedAndVumStillEnds) {
  // A file where the directory should be.
  std::ofstream(work_dir + "/config") << "in the way\n";
  show_window();
  click(main_window().quit_button);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_EQ(history_page().log, nullptr);
  EXPECT_NE(printed.find("VUM: Couldn't save window settings: cannot make " + work_dir + "/config/vum ("),
            std::string::npos)
      << printed;
}

// The title says what is being debugged.
TEST_F(WindowMemoryTest, TheTitleNamesWhatIsDebugged) {
  unsetenv("VUM_BOCHSRC");
  build_window();
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(main_window().window)), "VUM -- simulated PC");

  // Without the window: debugged_target() on each set-up in turn.
  std::string bin = work_dir + "/bin";
  mkdir(bin.c_str(), 0755);
  std::string sim_path = getenv("PATH");
  auto path_with = [&](const std::string &program) {
    // "bochs" as a link to a program of that name, as sim-bin and bridge-bin hold.
    unlink((bin + "/bochs").c_str());
    std::ofstream(bin + "/" + program) << "#!/bin/sh\n";
    chmod((bin + "/" + program).c_str(), 0755);
    EXPECT_EQ(symlink(program.c_str(), (bin + "/bochs").c_str()), 0);
    setenv("PATH", bin.c_str(), 1);
  };
  EXPECT_EQ(debugged_target(), "simulated PC");
  std::ofstream("bochsrc.txt") << "display_library: x\n";
  EXPECT_EQ(debugged_target(), "simulated PC") << "the simulated PC reads no bochsrc";
  setenv("VUM_BOCHSRC", "/home/me/os/bochsrc", 1);
  EXPECT_EQ(debugged_target(), "/home/me/os/bochsrc");
  setenv("VUM_BOCHSRC", "", 1);
  EXPECT_EQ(debugged_target(), "simulated PC");
  command_line().bochsrc = "given.rc";
  EXPECT_EQ(debugged_target(), "given.rc");
  command_line().bochsrc.clear();

  path_with("vum-bridge");
  EXPECT_EQ(debugged_target(), "bochsrc.txt");
  std::ofstream(".bochsrc") << "display_library: x\n";
  EXPECT_EQ(debugged_target(), ".bochsrc");
  std::ofstream("bochsrc") << "display_library: x\n";
  EXPECT_EQ(debugged_target(), "bochsrc");
  for (const char *name : {"bochsrc", ".bochsrc", "bochsrc.txt"}) unlink(name);
  EXPECT_EQ(debugged_target(), "demo floppy");
  path_with("bochs-2.7");
  EXPECT_EQ(debugged_target(), "Bochs, no bochsrc");
  setenv("PATH", (work_dir + "/nowhere").c_str(), 1);
  EXPECT_EQ(debugged_target(), "Bochs, no bochsrc");
  setenv("PATH", sim_path.c_str(), 1);
  EXPECT_EQ(debugged_target(), "simulated PC");
  unsetenv("VUM_BOCHSRC");
}
