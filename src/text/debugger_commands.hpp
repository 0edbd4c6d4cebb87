// Every line VUM sends to the debugger, in one place.
#pragma once

extern const char *const debugger_command;  // the shell command line that starts the debugger

extern const char *const command_step;           // one step
extern const char *const command_continue;       // run until something stops the target
extern const char *const command_quit;           // end the debugger
extern const char *const command_trace_on;
extern const char *const command_trace_off;
extern const char *const command_info_break;     // breakpoint list
extern const char *const command_watch_list;     // watchpoint list
extern const char *const command_unwatch_all;
extern const char *const command_dump_cpu;

extern const char *const format_next_breakpoint;  // temporary physical breakpoint, "%X" address
extern const char *const format_delete_breakpoint;  // "%u" breakpoint number
extern const char *const breakpoint_commands[3];  // physical, linear, virtual; "%s" address text
extern const char *const watch_commands[2];       // read, write; "%s" address text
extern const char *const unwatch_commands[2];     // read, write; "%x" address
extern const char *const format_examine_byte;     // single values, "%X" address
extern const char *const format_examine_half;
extern const char *const format_examine_word;
extern const char *const format_examine_two_words;
extern const char *const format_dump_physical;   // "%u%c%c" units, size, format; "%X" address
extern const char *const format_dump_linear;
extern const char *const format_set_register;   // "%s" a name settable_register gives, "%X" the value
extern const char *const format_set_memory;     // "%X" physical address, "%u" size 1, 2 or 4, "%X" value
extern const char *const format_disassemble;      // "%u" instructions, "%X" linear address
