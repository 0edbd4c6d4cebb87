// The settings: built-in defaults, overwritten by the configuration file at
// start-up and changed on the Preferences page. One record, read by the
// pages that follow them (the history its length, the stack view its counts,
// the point pages their reload switches).
#pragma once

#include <cstdint>

struct Settings {
  uint32_t history_length;  // the most rows the History page keeps
  uint32_t stack_above;     // stack values shown above ESP
  uint32_t stack_below;     // and below it
  uint32_t step_lock_time;  // seconds; shown and stored only
  uint32_t next_lock_time;
  bool reload_breakpoints;  // add the last breakpoints again when a new debugger starts
  bool reload_watchpoints;
  uint32_t tabs;            // where the page tabs go: 0 bottom, 1 top, 2 left, 3 right
};

extern Settings settings;

// Puts every setting back to its default.
void reset_settings();

// The largest values the history length and stack count entries can show
// (5 and 4 characters); the configuration file is held to them.
const uint32_t largest_history_length = 99999;
const uint32_t largest_stack_count = 9999;
