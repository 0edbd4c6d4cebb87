#include "text/debugger_commands.hpp"

const char *const debugger_command = "bochs -q";

const char *const command_step = "s\n";
const char *const command_continue = "c\n";
const char *const command_quit = "q\n";
const char *const command_trace_on = "trace-on\n";
const char *const command_trace_off = "trace-off\n";
const char *const command_info_break = "info break\n";
const char *const command_watch_list = "watch\n";
const char *const command_unwatch_all = "unwatch\n";
const char *const command_dump_cpu = "dump_cpu\n";

const char *const format_next_breakpoint = "pb 0x%X\n";
const char *const format_delete_breakpoint = "d %u\n";
const char *const breakpoint_commands[3] = {"pb %s\n", "lb %s\n", "vb %s\n"};
const char *const watch_commands[2] = {"watch read %s\n", "watch write %s\n"};
const char *const unwatch_commands[2] = {"unwatch read 0x%x\n", "unwatch write 0x%x\n"};
const char *const format_examine_byte = "x /1bx 0x%X\n";
const char *const format_examine_half = "x /1hx 0x%X\n";
const char *const format_examine_word = "x /1wx 0x%X\n";
const char *const format_examine_two_words = "x /2wx 0x%X\n";
const char *const format_dump_physical = "xp /%u%c%c 0x%X\n";
const char *const format_dump_linear = "x /%u%c%c 0x%X\n";
const char *const format_set_register = "set %s = 0x%X\n";
const char *const format_set_memory = "setpmem 0x%X %u 0x%X\n";
const char *const format_disassemble = "u /%u 0x%X\n";
