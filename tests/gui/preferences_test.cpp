// The Preferences page: its layout, the defaults, the configuration file read
// between the defaults and the display, the entries, the check buttons, the
// history button and the page tabs.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/settings_fixture.hpp"
#include "views/stack_view.hpp"
#include "exec/run_control.hpp"
#include "text/settings.hpp"
#include "views/struct_windows.hpp"

namespace {

class PreferencesTest : public SettingsTest {
 protected:
  std::vector<GtkWidget *> entries() const {
    return {preferences_page().history_length_entry, preferences_page().stack_above_entry, preferences_page().stack_below_entry, preferences_page().step_lock_time_entry,
            preferences_page().next_lock_time_entry};
  }

  Lines entry_texts() const {
    Lines out;
    for (int i = 0; i < 5; i++) out.push_back(entry_text(entries()[i]));
    return out;
  }

  std::vector<uint32_t> setting_values() const {
    return {::settings.history_length, ::settings.stack_above, ::settings.stack_below, ::settings.step_lock_time, ::settings.next_lock_time};
  }

  void enter(GtkWidget *entry, const std::string &text) {
    type_into(entry, text);
    activate(entry);
  }

  GtkPositionType tab_position() const {
    return gtk_notebook_get_tab_pos(GTK_NOTEBOOK(main_window().notebook));
  }
};

}  // namespace

TEST_F(PreferencesTest, LayoutAndDefaultsWithoutAFile) {
  build_window();
  EXPECT_NE(printed.find("VUM: .vumrc file not found, using defaults\n"), std::string::npos);
  // The fifth page, titled "Preferences".
  GtkWidget *page = gtk_notebook_get_nth_page(GTK_NOTEBOOK(main_window().notebook), 4);
  EXPECT_STREQ(gtk_notebook_get_tab_label_text(GTK_NOTEBOOK(main_window().notebook), page), "Preferences");
  EXPECT_TRUE(gtk_widget_is_ancestor(preferences_page().history_length_entry, page));

  // Left column: five rows of an entry and its label, then the label that
  // says why a number was refused (empty).
  GtkWidget *left = gtk_widget_get_parent(gtk_widget_get_parent(preferences_page().history_length_entry));
  std::vector<std::string> labels;
  GList *rows_list = gtk_container_get_children(GTK_CONTAINER(left));
  ASSERT_EQ(g_list_length(rows_list), 6u);
  EXPECT_EQ(g_list_last(rows_list)->data, preferences_page().message);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(preferences_page().message)), "");
  rows_list = g_list_delete_link(rows_list, g_list_last(rows_list));
  for (GList *r = rows_list; r; r = r->next) {
    Lines row = box_contents(GTK_WIDGET(r->data));
    ASSERT_EQ(row.size(), 2u);
    EXPECT_EQ(row[0], "entry");
    labels.push_back(row[1]);
  }
  g_list_free(rows_list);
  EXPECT_EQ(labels, (Lines{"label:Instruction History Length", "label:Stack values above ESP",
                           "label:Stack values below ESP", "label:Step-Lock Time (seconds)",
                           "label:Next-Lock Time (seconds)"}));
  const int max_characters[5] = {5, 4, 4, 3, 3};
  for (int i = 0; i < 5; i++) {
    GtkWidget *e = entries()[i];
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(e)), max_characters[i]);
    EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(e)));
    EXPECT_EQ(gtk_widget_get_parent(gtk_widget_get_parent(e)), left);
    gint w = 0, h = 0;
    gtk_widget_get_size_request(e, &w, &h);
    EXPECT_EQ(w, 75);
  }
  // The separator between the columns, then the right column.
  GtkWidget *columns = gtk_widget_get_parent(left);
  Lines column_kinds = box_contents(columns);
  EXPECT_EQ(column_kinds, (Lines{"GtkVBox", "GtkVSeparator", "GtkVBox"}));
  GtkWidget *right = gtk_widget_get_parent(preferences_page().clear_history_button);
  EXPECT_EQ(box_contents(right),
            (Lines{"button:Clear History", "button:Enable instruction tracing",
                   "button:Reload breakpoints when restarting Bochs",
                   "button:Reload watchpoints when restarting Bochs", "GtkHBox"}));
  GtkWidget *tabs_row = gtk_widget_get_parent(gtk_widget_get_parent(preferences_page().tabs_group->buttons[0].button));
  EXPECT_EQ(box_contents(tabs_row), (Lines{"label:Page tabs", "GtkHBox"}));
  Lines tab_labels;
  for (uint32_t i = 0; i < preferences_page().tabs_group->count; i++) tab_labels.push_back(button_label(preferences_page().tabs_group->buttons[i].button));
  EXPECT_EQ(tab_labels, (Lines{" Bottom ", " Top ", " Left ", " Right "}));

  // The defaults, shown.
  EXPECT_EQ(setting_values(), (std::vector<uint32_t>{50, 8, 4, 2, 2}));
  EXPECT_EQ(entry_texts(), (Lines{"50", "8", "4", "2", "2"}));
  EXPECT_FALSE(tracing_on());
  EXPECT_FALSE(active(preferences_page().trace_button));
  EXPECT_TRUE(settings.reload_breakpoints);
  EXPECT_TRUE(active(preferences_page().reload_breakpoints_button));
  EXPECT_TRUE(settings.reload_watchpoints);
  EXPECT_TRUE(active(preferences_page().reload_watchpoints_button));
  EXPECT_EQ(preferences_page().tabs_group->selected, 0u);
  EXPECT_TRUE(active(preferences_page().tabs_group->buttons[0].button));
  EXPECT_EQ(tab_position(), GTK_POS_BOTTOM);
  EXPECT_EQ(struct_defs.first, nullptr);
  EXPECT_EQ(row_count(structures_list()), 0);
  // Offline, tracing waits for the debugger; the rest does not.
  EXPECT_FALSE(sensitive(preferences_page().trace_button));
  EXPECT_TRUE(sensitive(preferences_page().clear_history_button));
  EXPECT_TRUE(sensitive(preferences_page().reload_breakpoints_button));
  EXPECT_TRUE(sensitive(preferences_page().history_length_entry));
}

TEST_F(PreferencesTest, TheFileIsReadBetweenTheDefaultsAndTheDisplay) {
  write_config("{history 80}\n{stack 3 2}\n{reload 0 5}\n{tabs 2}\n");
  build_window();
  EXPECT_EQ(printed.find(".vumrc"), std::string::npos) << "no message for a good file";
  EXPECT_EQ(setting_values(), (std::vector<uint32_t>{80, 3, 2, 2, 2}));
  EXPECT_EQ(entry_texts(), (Lines{"80", "3", "2", "2", "2"}));
  // 0 shows the button up; 5 shows it pressed and stores 1.
  EXPECT_FALSE(settings.reload_breakpoints);
  EXPECT_FALSE(active(preferences_page().reload_breakpoints_button));
  EXPECT_TRUE(settings.reload_watchpoints);
  EXPECT_TRUE(active(preferences_page().reload_watchpoints_button));
  // The tabs on the left from the start, " Left " pressed and no other.
  EXPECT_EQ(tab_position(), GTK_POS_LEFT);
  EXPECT_EQ(preferences_page().tabs_group->selected, 2u);
  for (uint32_t i = 0; i < 4; i++) EXPECT_EQ(active(preferences_page().tabs_group->buttons[i].button), i == 2) << i;
}

TEST_F(PreferencesTest, FileValuesAreHeldToWhatTheEntriesShow) {
  write_config("{history 123456}\n{stack 10000 4294967295}\n{tabs 9}\n");
  build_window();
  EXPECT_EQ(setting_values(), (std::vector<uint32_t>{99999, 9999, 9999, 2, 2}));
  EXPECT_EQ(entry_texts(), (Lines{"99999", "9999", "9999", "2", "2"}));
  EXPECT_EQ(tab_position(), GTK_POS_BOTTOM);
}

TEST_F(PreferencesTest, AFileThatCannotBeReadLeavesTheDefaults) {
  ASSERT_EQ(mkdir(".vumrc", 0755), 0);  // no regular file
  build_window();
  EXPECT_NE(printed.find("VUM: Couldn't process .vumrc (not a regular file), using defaults\n"), std::string::npos);
  EXPECT_EQ(printed.find("file not found"), std::string::npos);
  EXPECT_EQ(setting_values(), (std::vector<uint32_t>{50, 8, 4, 2, 2}));
  EXPECT_EQ(tab_position(), GTK_POS_BOTTOM);
  EXPECT_TRUE(history_has("Couldn't process .vumrc (not a regular file), using defaults"));
}

TEST_F(PreferencesTest, AFifoNamedVumrcIsRefusedAtOnce) {
  ASSERT_EQ(mkfifo(".vumrc", 0644), 0);  // nobody will ever write it
  gint64 began = g_get_monotonic_time();
  build_window();
  EXPECT_LT(g_get_monotonic_time() - began, 5000000) << "start-up waited on the FIFO";
  EXPECT_NE(printed.find("VUM: Couldn't process .vumrc (not a regular file), using defaults\n"), std::string::npos);
  EXPECT_EQ(setting_values(), (std::vector<uint32_t>{50, 8, 4, 2, 2}));
}

TEST_F(PreferencesTest, AFileWithoutBlocksGivesTheDefaultsSilently) {
  write_config("no blocks here, only words } and 12\n");
  build_window();
  EXPECT_EQ(printed.find(".vumrc"), std::string::npos);
  EXPECT_EQ(setting_values(), (std::vector<uint32_t>{50, 8, 4, 2, 2}));
  EXPECT_EQ(struct_defs.first, nullptr);
}

TEST_F(PreferencesTest, HistoryZeroFromTheFileIsKept) {
  write_config("{history 0}\n");
  build_window();
  EXPECT_EQ(settings.history_length, 0u);
  EXPECT_EQ(entry_text(preferences_page().history_length_entry), "0");
}

TEST_F(PreferencesTest, EachErrorIsNamedWithItsLineAndTheBlocksAfterItAreRead) {
  write_config("{history 70}\n{colour red}\n{stack 1 1}\n{struct a 500 x 2 count 1}\n{list s 10 2 a 1 }\n"
               "{history 33}\n{stack -1 -1}\n");
  build_window();
  const Lines said = {
      ".vumrc:2: Unknown block type 'colour': expected history, stack, tabs, reload, struct, list or symbols",
      ".vumrc:4: struct a: expected a '}' standing apart to end it before the next block",
      ".vumrc:7: stack: the counts cannot be negative",
  };
  for (const std::string &s : said) {
    EXPECT_NE(printed.find("VUM: " + s + "\n"), std::string::npos) << s;
    EXPECT_TRUE(history_has(s)) << s;
  }
  EXPECT_EQ(setting_values(), (std::vector<uint32_t>{33, 1, 1, 2, 2}));
  ASSERT_NE(struct_defs.first, nullptr);
  EXPECT_STREQ(struct_defs.first->name, "s");
  EXPECT_EQ(struct_defs.first->next, nullptr) << "the struct with the error is not kept";
}

TEST_F(PreferencesTest, EntriesTakeDecimalNumbersAndShowWhatWasStored) {
  build_window();
  struct Case {
    const char *typed;
    // Shown afterwards in history, above, below, step lock, next lock.
    Lines shown;
  } cases[] = {
      {"0", {"1", "0", "0", "1", "1"}},  // 0 becomes 1 for the history and the lock times
      {"007", {"7", "7", "7", "7", "7"}},
      {"  9", {"9", "9", "9", "9", "9"}},
      {"+5", {"5", "5", "5", "5", "5"}},
  };
  for (const Case &c : cases) {
    for (int i = 0; i < 5; i++) {
      SCOPED_TRACE(std::string("'") + c.typed + "' in entry " + std::to_string(i));
      enter(entries()[i], c.typed);
      EXPECT_EQ(entry_text(entries()[i]), c.shown[i]);
      EXPECT_EQ(std::to_string(setting_values()[i]), c.shown[i]);
      EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(preferences_page().message)), "");
    }
  }
}

TEST_F(PreferencesTest, WhatIsNoNumberIsRefusedWithItsReasonAndTheTextKept) {
  build_window();
  for (int i = 0; i < 5; i++) enter(entries()[i], std::to_string(20 + i));
  ASSERT_EQ(setting_values(), (std::vector<uint32_t>{20, 21, 22, 23, 24}));
  struct Case {
    const char *typed;
    const char *message;  // for the history length entry
  } cases[] = {
      {"-1", "The history length cannot be negative"},
      {"-999", "The history length cannot be negative"},
      {" -5x", "The history length cannot be negative"},
      {"12x", "\"12x\" is no number: type the history length in decimal digits"},
      {"abc", "\"abc\" is no number: type the history length in decimal digits"},
      {"", "Type the history length, a number from 0 to 99999"},
  };
  for (const Case &c : cases) {
    for (int i = 0; i < 5; i++) {
      SCOPED_TRACE(std::string("'") + c.typed + "' in entry " + std::to_string(i));
      enter(entries()[i], c.typed);
      EXPECT_EQ(setting_values()[i], 20u + i);
      // Kept for correction, as far as the entry holds it.
      EXPECT_EQ(entry_text(entries()[i]),
                std::string(c.typed).substr(0, (size_t)gtk_entry_get_max_length(GTK_ENTRY(entries()[i]))));
      const char *said = gtk_label_get_text(GTK_LABEL(preferences_page().message));
      if (i == 0) {
        EXPECT_STREQ(said, c.message);
      } else {
        EXPECT_STRNE(said, "");
      }
    }
  }
  // A refused history length trims nothing.
  history_message("one");
  history_message("two");
  history_message("three");
  enter(preferences_page().history_length_entry, "-2");
  EXPECT_EQ(history_texts(), (Lines{"one", "two", "three"}));
}

TEST_F(PreferencesTest, AnEntryTakesEffectOnlyOnEnter) {
  build_window();
  type_into(preferences_page().stack_above_entry, "30");
  EXPECT_EQ(settings.stack_above, 8u);
  activate(preferences_page().stack_above_entry);
  EXPECT_EQ(settings.stack_above, 30u);
}

TEST_F(PreferencesTest, TheHistoryLengthTrimsTheOldestRows) {
  build_window();
  for (const char *m : {"a", "b", "c", "d", "e"}) history_message(m);
  enter(preferences_page().history_length_entry, "3");
  EXPECT_EQ(history_texts(), (Lines{"c", "d", "e"}));
  enter(preferences_page().history_length_entry, "0");
  EXPECT_EQ(settings.history_length, 1u);
  EXPECT_EQ(entry_text(preferences_page().history_length_entry), "1");
  EXPECT_EQ(history_texts(), (Lines{"e"}));
  history_message("f");
  EXPECT_EQ(history_texts(), (Lines{"f"}));
}

TEST_F(PreferencesTest, ReloadButtonsFlipTheirSwitches) {
  build_window();
  struct Step {
    GtkWidget *button;
    bool breakpoints, watchpoints;
  } steps[] = {
      {preferences_page().reload_breakpoints_button, false, true},
      {preferences_page().reload_breakpoints_button, true, true},
      {preferences_page().reload_watchpoints_button, true, false},
      {preferences_page().reload_breakpoints_button, false, false},
      {preferences_page().reload_watchpoints_button, false, true},
  };
  for (const Step &s : steps) {
    click(s.button);
    EXPECT_EQ(settings.reload_breakpoints, s.breakpoints);
    EXPECT_EQ(settings.reload_watchpoints, s.watchpoints);
    EXPECT_EQ(active(preferences_page().reload_breakpoints_button), s.breakpoints);
    EXPECT_EQ(active(preferences_page().reload_watchpoints_button), s.watchpoints);
  }
}

TEST_F(PreferencesTest, PageTabsMoveTheNotebooksTabs) {
  build_window();
  struct Step {
    uint32_t button;
    GtkPositionType position;
  } steps[] = {
      {1, GTK_POS_TOP}, {1, GTK_POS_TOP},  // the pressed button again: nothing changes
      {2, GTK_POS_LEFT}, {3, GTK_POS_RIGHT}, {0, GTK_POS_BOTTOM},
  };
  for (const Step &s : steps) {
    click(preferences_page().tabs_group->buttons[s.button].button);
    EXPECT_EQ(tab_position(), s.position);
    EXPECT_EQ(preferences_page().tabs_group->selected, s.button);
    for (uint32_t i = 0; i < 4; i++) EXPECT_EQ(active(preferences_page().tabs_group->buttons[i].button), i == s.button);
  }
}

TEST_F(PreferencesTest, TracingAndClearHistory) {
  build_window();
  start_bochs();
  ASSERT_TRUE(wait_for_transcript(start_lines));
  new_commands();
  EXPECT_TRUE(sensitive(preferences_page().trace_button));
  click(preferences_page().trace_button);
  EXPECT_TRUE(tracing_on());
  EXPECT_TRUE(active(preferences_page().trace_button));
  EXPECT_EQ(new_commands(), (Lines{"trace-on"}));
  EXPECT_TRUE(history_has("--- TRACE ENABLED ---"));
  click(preferences_page().trace_button);
  EXPECT_FALSE(tracing_on());
  EXPECT_EQ(new_commands(), (Lines{"trace-off"}));

  ASSERT_GT(history_texts().size(), 2u);
  click(preferences_page().clear_history_button);
  EXPECT_EQ(history_texts(), Lines{});
  if (history_page().log) fflush(history_page().log);
  EXPECT_EQ(read_file("__vum.log__"), "");
}

TEST_F(PreferencesTest, AStackCountBeyondWhatTheViewReadsIsSaidToBeCut) {
  write_config("{stack 2000 4}\n");
  build_window();
  const std::string said =
      ".vumrc: The stack view reads at most 1024 values on either side of ESP: 2000 is cut to 1024";
  EXPECT_NE(printed.find("VUM: " + said + "\n"), std::string::npos) << printed;
  EXPECT_TRUE(history_has(said));
  enter(preferences_page().stack_below_entry, "1500");
  EXPECT_EQ(settings.stack_below, 1500u);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(preferences_page().message)),
               "The stack view reads at most 1024 values on either side of ESP: 1500 is cut to 1024");
  enter(preferences_page().stack_below_entry, "1024");
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(preferences_page().message)), "");
}
