// Keys of the main window: F5 Go, F10 Next, F11 Step, Shift+F5 or Escape
// Stop, Ctrl+Q Quit. Key events are sent to the real window through the X
// server, with the keyboard focus wherever the test puts it.
#include <gdk/gdkkeysyms.h>

#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/settings_fixture.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"

namespace {

class KeyBindingsTest : public SettingsTest {
 protected:
  void show_window() {
    build_window();
    ASSERT_TRUE(pump_until([] { return gdk_window_is_viewable(main_window().window->window); }));
  }

  // Presses and releases a key in the main window and lets the window handle it.
  void press(guint key, GdkModifierType modifiers = (GdkModifierType)0) {
    ASSERT_TRUE(simulate_key(main_window().window->window, key, modifiers));
    gdk_flush();
    pump_for(150);
  }

  std::string tooltip(GtkWidget *w) {
    gchar *t = gtk_widget_get_tooltip_text(w);
    std::string s = t ? t : "";
    g_free(t);
    return s;
  }

  GtkWidget *quit_button() {
    GList *row = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(main_window().start_button)));
    GtkWidget *last = GTK_WIDGET(g_list_last(row)->data);
    g_list_free(row);
    return last;
  }

  void start() {
    start_bochs();
    ASSERT_TRUE(wait_for_transcript(start_lines));
    new_commands();
  }
};

}  // namespace

TEST_F(KeyBindingsTest, TooltipsNameTheKeys) {
  show_window();
  EXPECT_EQ(tooltip(control_bar().go_button), "Run until something stops the target (F5)");
  EXPECT_EQ(tooltip(control_bar().stop_button), "Stop the running target (Shift+F5 or Escape)");
  EXPECT_EQ(tooltip(control_bar().step_button), "Step one instruction (F11)");
  EXPECT_EQ(tooltip(control_bar().next_button), "Step over a call, interrupt, loop or jump (F10)");
  EXPECT_EQ(button_label(quit_button()), " Quit ");
  EXPECT_EQ(tooltip(quit_button()), "Quit VUM (Ctrl+Q)");
}

TEST_F(KeyBindingsTest, OfflineTheRunKeysDoNothing) {
  show_window();
  for (guint key : {GDK_F5, GDK_F10, GDK_F11, GDK_Escape}) press(key);
  press(GDK_F5, GDK_SHIFT_MASK);
  press(GDK_q);  // q without Ctrl is no key of the window
  EXPECT_TRUE(link_seam().debugger_offline);
  EXPECT_EQ(history_texts(), Lines{});
  EXPECT_EQ(entry_text(control_bar().instruction_entry), ".. o f f l i n e ..");
  EXPECT_EQ(main_window().main_loop_left, 0);
  EXPECT_EQ(transcript(), Lines{}) << "no debugger was started";
}

TEST_F(KeyBindingsTest, EachKeyDoesWhatItsButtonDoesFromAnywhere) {
  show_window();
  start();
  // F11 steps, with the focus in the breakpoint entry, which gets no text.
  gtk_widget_grab_focus(breakpoints_page().w.entry);
  ASSERT_EQ(gtk_window_get_focus(GTK_WINDOW(main_window().window)), breakpoints_page().w.entry);
  press(GDK_a);  // other keys reach the entry
  EXPECT_EQ(entry_text(breakpoints_page().w.entry), "a");
  type_into(breakpoints_page().w.entry, "");
  uint32_t before = current_location().physical_address;
  press(GDK_F11);
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"}));
  EXPECT_NE(current_location().physical_address, before);
  EXPECT_EQ(entry_text(breakpoints_page().w.entry), "");

  // Stopped: Stop is insensitive, so Escape and Shift+F5 send nothing; Next
  // is insensitive on "xor", so F10 sends nothing.
  press(GDK_Escape);
  press(GDK_F5, GDK_SHIFT_MASK);
  ASSERT_FALSE(sensitive(control_bar().next_button));
  press(GDK_F10);
  EXPECT_EQ(new_commands(), Lines{});

  // On another page, step to the call at 7C0D; F10 steps over it.
  gtk_notebook_set_current_page(GTK_NOTEBOOK(main_window().notebook), 4);
  gtk_widget_grab_focus(preferences_page().history_length_entry);
  for (int i = 0; i < 20 && current_location().physical_address != 0x7c0d; i++) press(GDK_F11);
  ASSERT_EQ(current_location().physical_address, 0x7c0du);
  ASSERT_TRUE(sensitive(control_bar().next_button));
  new_commands();
  press(GDK_F10);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(current_location().physical_address, 0x7c10u);
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7C10", "c", "dump_cpu", "d 1"}));
  EXPECT_EQ(entry_text(preferences_page().history_length_entry), "50") << "the entry got no key";

  // F5 runs; while it runs F5, F11 and F10 do nothing; Shift+F5 stops.
  press(GDK_F5);
  ASSERT_TRUE(target_running());
  press(GDK_F5);
  press(GDK_F11);
  press(GDK_F10);
  EXPECT_EQ(new_commands(), (Lines{"c"}));
  press(GDK_F5, GDK_SHIFT_MASK);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(new_commands(), (Lines{"#SIGINT", "dump_cpu"}));

  // Escape stops as well.
  press(GDK_F5);
  ASSERT_TRUE(target_running());
  press(GDK_Escape);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(new_commands(), (Lines{"c", "#SIGINT", "dump_cpu"}));
  EXPECT_FALSE(link_seam().debugger_offline);
  EXPECT_EQ(main_window().main_loop_left, 0);
}

TEST_F(KeyBindingsTest, CtrlQQuitsAsTheQuitButtonDoes) {
  show_window();
  start();
  press(GDK_q, GDK_CONTROL_MASK);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_TRUE(link_seam().debugger_offline);
  EXPECT_TRUE(history_has("Terminating Bochs"));
  Lines quit = start_lines;
  quit.push_back("q");
  EXPECT_TRUE(wait_for_transcript(quit));
}
