// Settings and structure windows against the simulated PC's demo, through
// real pipes: the example configuration file read at start-up, structure and
// list windows, Refresh All, the reload switches at a restart and the
// history length typed in.
#include <algorithm>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/settings_fixture.hpp"
#include "views/cpu_state_panel.hpp"
#include "views/dump_windows.hpp"
#include "views/stack_view.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"
#include "text/settings.hpp"
#include "views/struct_windows.hpp"

namespace {

const char *const example_file =
    "Settings for the boot-sector work.\n"
    "{history 200}\n"
    "{stack 10 6}\n"
    "{tabs 1}\n"
    "{reload 1 0}\n"
    "{struct header 7c00\n"
    "  magic 2\n"
    "  \\\\ 0\n"
    "  flags 4\n"
    "  count 1\n"
    "}\n"
    "{list entries 8000 16\n"
    "  start 4\n"
    "  length 4\n"
    "  kind 4\n"
    "  link 4\n"
    "}\n";

class SettingsEndToEndTest : public SettingsTest {
 protected:
  void start() {
    start_bochs();
    ASSERT_TRUE(wait_for_transcript(start_lines));
    new_commands();
  }
};

}  // namespace

TEST_F(SettingsEndToEndTest, TheExampleFileAtStartAndItsWindows) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 256; i++) bytes.push_back((uint8_t)i);
  put_memory(0x8000, bytes);
  write_config(example_file);
  build_window();

  // The settings it gives, shown; the tabs at the top; the two definitions.
  EXPECT_EQ(entry_text(preferences_page().history_length_entry), "200");
  EXPECT_EQ(entry_text(preferences_page().stack_above_entry), "10");
  EXPECT_EQ(entry_text(preferences_page().stack_below_entry), "6");
  EXPECT_EQ(entry_text(preferences_page().step_lock_time_entry), "2");
  EXPECT_EQ(entry_text(preferences_page().next_lock_time_entry), "2");
  EXPECT_EQ((std::vector<uint32_t>{settings.history_length, settings.stack_above, settings.stack_below}),
            (std::vector<uint32_t>{200, 10, 6}));
  EXPECT_TRUE(settings.reload_breakpoints);
  EXPECT_TRUE(active(preferences_page().reload_breakpoints_button));
  EXPECT_FALSE(settings.reload_watchpoints);
  EXPECT_FALSE(active(preferences_page().reload_watchpoints_button));
  EXPECT_EQ(gtk_notebook_get_tab_pos(GTK_NOTEBOOK(main_window().notebook)), GTK_POS_TOP);
  EXPECT_TRUE(active(preferences_page().tabs_group->buttons[1].button));
  EXPECT_EQ(rows(structures_list()), (Lines{"|00007C00|1|4|header", "|00008000|16|4|entries"}));
  EXPECT_EQ(printed.find(".vumrc"), std::string::npos);

  start();
  // The structure: magic, a separator, flags and count over the demo's first
  // instructions (fa 31 c0 8e d8 8e c0).
  StructDef *header = open_row(0);
  EXPECT_EQ(window_title(header->window), "VUM - Structure - header");
  EXPECT_EQ(rows(header->list),
            (Lines{"00007C00||", "|magic|= 31FA", "||", "|flags|= 8ED88EC0", "|count|= C0"}));
  EXPECT_EQ(new_commands(), (Lines{"x /1hx 0x7C00", "x /1wx 0x7C02", "x /1bx 0x7C06"}));

  // The list, 16 elements of 16 bytes; Start 14 with Total 5 shows the last
  // two and Total becomes 2.
  StructDef *entries = open_row(1);
  EXPECT_EQ(window_title(entries->window), "VUM - List - entries");
  EXPECT_EQ(row_count(entries->list), 16 * 5);
  EXPECT_EQ(new_commands().size(), 64u);
  type_into(entries->start_entry, "14");
  type_into(entries->total_entry, "5");
  click(entries->refresh_button);
  EXPECT_EQ(entry_text(entries->start_entry), "14");
  EXPECT_EQ(entry_text(entries->total_entry), "2");
  const Lines last_two = {"000080E0|(14)||", "||start|= E3E2E1E0", "||length|= E7E6E5E4",
                          "||kind|= EBEAE9E8", "||link|= EFEEEDEC",
                          "000080F0|(15)||", "||start|= F3F2F1F0", "||length|= F7F6F5F4",
                          "||kind|= FBFAF9F8", "||link|= FFFEFDFC"};
  EXPECT_EQ(rows(entries->list), last_two);
  const Lines list_reads = {"x /1wx 0x80E0", "x /1wx 0x80E4", "x /1wx 0x80E8", "x /1wx 0x80EC",
                            "x /1wx 0x80F0", "x /1wx 0x80F4", "x /1wx 0x80F8", "x /1wx 0x80FC"};
  EXPECT_EQ(new_commands(), list_reads);

  // Refresh All: the structure, then the list, in the order of the file.
  click(main_window().refresh_all_button);
  Lines all = {"x /1hx 0x7C00", "x /1wx 0x7C02", "x /1bx 0x7C06"};
  all.insert(all.end(), list_reads.begin(), list_reads.end());
  EXPECT_EQ(new_commands(), all);
  EXPECT_EQ(rows(entries->list), last_two);
  EXPECT_EQ(rows(structures_list()), (Lines{"X|00007C00|1|4|header", "X|00008000|16|4|entries"}));
}

TEST_F(SettingsEndToEndTest, WithTheWatchpointReloadOffARestartOnlyListsThem) {
  write_config("{reload 1 0}\n");
  build_window();
  start();
  type_into(breakpoints_page().w.entry, "0x7c10");
  click(breakpoints_page().w.add_button);
  type_into(watchpoints_page().w.entry, "0x600");
  click(watchpoints_page().w.add_button);
  EXPECT_EQ(new_commands(), (Lines{"pb 0x7c10", "info break", "watch read 0x600", "watch"}));
  click(main_window().start_button);  // Kill Bochs
  ASSERT_TRUE(link_seam().debugger_offline);
  EXPECT_EQ(new_commands(), (Lines{"q"}));
  start_bochs();
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "pb 0x7c10",
                                   "info break", "watch read 0x600", "watch", "q", "s", "dump_cpu",
                                   "pb 0x00007C10", "info break", "watch"}));
  // The breakpoint is back; the watchpoint is not.
  EXPECT_EQ(row_count(breakpoints_page().w.list), 1);
  EXPECT_EQ(row_count(watchpoints_page().w.list), 0);

  // Both switches off from the page: the next restart sends the two queries alone.
  click(preferences_page().reload_breakpoints_button);
  ASSERT_FALSE(settings.reload_breakpoints);
  click(main_window().start_button);
  new_commands();
  start_bochs();
  EXPECT_TRUE(pump_until([&] { return transcript().size() >= 18; }));
  EXPECT_EQ(new_commands(), start_lines);
}

TEST_F(SettingsEndToEndTest, HistoryLengthZeroTypedInKeepsTheNewestRow) {
  build_window();
  start();
  for (int i = 0; i < 4; i++) click(control_bar().step_button);
  Lines before = history_texts();
  ASSERT_GE(before.size(), 5u);
  type_into(preferences_page().history_length_entry, "0");
  activate(preferences_page().history_length_entry);
  EXPECT_EQ(entry_text(preferences_page().history_length_entry), "1");
  EXPECT_EQ(settings.history_length, 1u);
  EXPECT_EQ(history_texts(), (Lines{before.back()}));
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu", "s", "dump_cpu", "s", "dump_cpu", "s", "dump_cpu"}))
      << "trimming asks the debugger nothing";
  click(control_bar().step_button);
  EXPECT_EQ(history_texts().size(), 1u);
  EXPECT_EQ(history_texts().back(), current_location().text);
}

TEST_F(SettingsEndToEndTest, StackCountsTypedInReadTheStackAgainDownToOneTosRow) {
  state_line("esp 0x100");
  build_window();
  start();
  auto stack_column = [&] {
    Lines out;
    for (int r = 0; r < row_count(state_panel().stack_list); r++) out.push_back(cell(state_panel().stack_list, r, 0));
    return out;
  };
  // With the panel hidden, the hidden list is read and filled all the same.
  ASSERT_FALSE(state_panel_shown());
  type_into(preferences_page().stack_above_entry, "0");
  activate(preferences_page().stack_above_entry);
  EXPECT_EQ(settings.stack_above, 0u);
  EXPECT_EQ(entry_text(preferences_page().stack_above_entry), "0");
  EXPECT_EQ(new_commands(),
            (Lines{"x /1hx 0x100", "x /1hx 0xFE", "x /1hx 0xFC", "x /1hx 0xFA", "x /1hx 0xF8"}));
  EXPECT_EQ(stack_column(), (Lines{"TOS", "-2", "-4", "-6", "-8"}));

  click(main_window().show_state_button);
  ASSERT_TRUE(state_panel_shown());
  new_commands();
  type_into(preferences_page().stack_below_entry, "0");
  activate(preferences_page().stack_below_entry);
  EXPECT_EQ(settings.stack_below, 0u);
  EXPECT_EQ(new_commands(), (Lines{"x /1hx 0x100"}));
  EXPECT_EQ(stack_column(), (Lines{"TOS"}));
  GList *selection = GTK_CLIST(state_panel().stack_list)->selection;
  ASSERT_NE(selection, nullptr);
  EXPECT_EQ(GPOINTER_TO_INT(selection->data), 0);

  // A refused negative count reads nothing and leaves the list; the entry
  // keeps the text, and the page says why.
  type_into(preferences_page().stack_above_entry, "-1");
  activate(preferences_page().stack_above_entry);
  EXPECT_EQ(entry_text(preferences_page().stack_above_entry), "-1");
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(preferences_page().message)), "The count of stack values cannot be negative");
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_EQ(stack_column(), (Lines{"TOS"}));
}

TEST_F(SettingsEndToEndTest, RefreshAllWithStructureAndDumpWindowsOpen) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 16; i++) bytes.push_back((uint8_t)(0x30 + i));
  put_memory(0x3000, bytes);
  write_config("{struct a 3000 v 2 }\n{struct b 3004 v 1 }\n{list c 3008 2 v 4 }\n");
  build_window();
  start();
  StructDef *c = open_row(2);
  StructDef *a = open_row(0);
  type_into(memory_page().address_entry, "3000");
  type_into(memory_page().units_entry, "8");
  click(memory_page().dump_button);
  ASSERT_NE(memory_page().windows.first, nullptr);
  type_into(memory_page().address_entry, "3008");
  type_into(memory_page().units_entry, "2");
  click(memory_page().dump_button);
  ASSERT_NE(memory_page().windows.first->next, nullptr);
  EXPECT_EQ(new_commands(), (Lines{"x /1wx 0x3008", "x /1wx 0x300C",
                                   "x /1hx 0x3000", "xp /8bx 0x3000", "xp /2bx 0x3008"}));

  // The structure windows in the order of the file (b is closed), then the
  // dump windows in the order they were opened.
  click(main_window().refresh_all_button);
  EXPECT_EQ(new_commands(), (Lines{"x /1hx 0x3000", "x /1wx 0x3008", "x /1wx 0x300C",
                                   "xp /8bx 0x3000", "xp /2bx 0x3008"}));
  EXPECT_EQ(rows(a->list), (Lines{"00003000||", "|v|= 3130"}));
  EXPECT_EQ(rows(c->list), (Lines{"00003008|(0)||", "||v|= 3B3A3938", "0000300C|(1)||",
                                  "||v|= 3F3E3D3C"}));
  EXPECT_EQ(row_count(memory_page().windows.first->list), 1);
}

// A 16-bit stack in protected mode: its base is the descriptor's (0 here),
// not the selector times 16 (0x100), and the top of stack shows the word at
// ESP.
TEST_F(SettingsEndToEndTest, A16BitStackInProtectedModeIsReadAtItsDescriptorsBase) {
  for (const char *line : {"cr0 1", "cs.selector 8", "cs.base 0", "cs.limit ffff", "cs.access 9b", "cs.db 0",
                           "cs.valid 1", "eip 7c00", "ss.selector 10", "ss.base 0", "ss.limit ffff",
                           "ss.access 93", "ss.db 0", "ss.valid 1", "esp 1000"})
    state_line(line);
  put_memory(0x7c00, {0x90, 0x90});  // nop; nop
  put_memory(0x1000, {0x34, 0x12});
  put_memory(0x1100, {0x78, 0x56});
  build_window();
  start();
  click(main_window().show_state_button);
  ASSERT_TRUE(state_panel_shown());
  EXPECT_EQ(gtk_label_get_text(GTK_LABEL(state_panel().stack_label)), std::string("16bit Stack"));
  Lines reads = new_commands();
  EXPECT_NE(std::find(reads.begin(), reads.end(), "x /1hx 0x1000"), reads.end());
  EXPECT_EQ(std::find(reads.begin(), reads.end(), "x /1hx 0x1100"), reads.end()) << "not the selector times 16";
  int tos = -1;
  for (int r = 0; r < row_count(state_panel().stack_list); r++)
    if (cell(state_panel().stack_list, r, 0) == "TOS") tos = r;
  ASSERT_GE(tos, 0);
  EXPECT_EQ(cell(state_panel().stack_list, tos, 1), "1234");
}
