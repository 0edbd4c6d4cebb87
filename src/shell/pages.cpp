#include "shell/pages.hpp"

#include "code/code_page.hpp"
#include "console/console_page.hpp"
#include "guest/guest_output_page.hpp"
#include "history/history.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "tables/search_page.hpp"
#include "tables/tables_page.hpp"
#include "views/cpu_state_panel.hpp"
#include "views/dump_windows.hpp"
#include "views/struct_windows.hpp"

// The Code page's item of the Run menu: Run to Here on its selected row.
static const PageMenuItem code_menu[] = {
    {"Run", "RunToHere", "Run to _Here", NULL, code_run_to_button},
    {NULL, NULL, NULL, NULL, NULL},
};

// In the order of the notebook's tabs; the CPU state panel reacts to a stop
// first, as it reads the stack before the history shows the row.
const PageRow page_table[] = {
    // title, scrolled, build, after_build, set_sensitive, starting, stopped, hit, reload,
    // refresh_rank, refresh_windows, quit
    {NULL, false, build_state_panel, NULL, NULL, state_panel_starting, state_panel_stopped, NULL, NULL, 0,
     NULL},
    {"Breakpoints", true, build_breakpoints_page, NULL, set_breakpoints_sensitive, NULL, NULL,
     breakpoints_hit, reload_breakpoints_now, 0, NULL},
    {"Watchpoints", true, build_watchpoints_page, NULL, set_watchpoints_sensitive, watchpoints_starting,
     watchpoints_stopped,
     watchpoints_hit, reload_watchpoints_now, 0, NULL},
    {"Memory", true, build_memory_page, NULL, set_memory_sensitive, memory_starting, memory_stopped, NULL, NULL, 2,
     refresh_dump_windows, memory_quit},
    {"Structures", false, build_structures_page, fill_struct_list, set_structs_sensitive, NULL, structs_stopped,
     NULL, NULL, 1, refresh_struct_windows, structs_quit},
    {"Preferences", true, build_preferences_page, preferences_after_build, set_preferences_sensitive, NULL, NULL, NULL, NULL,
     0, NULL},
    {"History", false, build_history_page, NULL, NULL, history_reset_repeats, history_stopped, NULL, NULL,
     0, NULL, NULL},
    {"Guest Output", false, build_guest_output_page, NULL, NULL, NULL, NULL, NULL, NULL, 0, NULL,
     flush_guest_output},
    {"Code", false, build_code_page, code_page_after_build, set_code_page_sensitive, code_page_starting,
     code_page_stopped, NULL, NULL, 0, NULL, NULL, code_menu},
    {"Console", false, build_console_page, NULL, set_console_sensitive, NULL, console_stopped, NULL, NULL, 0,
     NULL, NULL},
    {"Tables", false, build_tables_page, NULL, set_tables_sensitive, tables_starting, tables_stopped, NULL, NULL, 0,
     NULL, tables_quit},
    {"Search", false, build_search_page, NULL, set_search_sensitive, NULL, NULL, NULL, NULL, 0, NULL, NULL},
};

const int page_count = sizeof page_table / sizeof page_table[0];
