// Run control: Go, Step, Next and Stop, the fixed sequence after every stop,
// instruction tracing, and the run reader (the trace lines and stop report of
// a running target). It knows no widget: it publishes what happened through
// run_events, which the shell connects to the control bar and the pages.
#pragma once

#include <cstdint>

#include "text/cpu_scan.hpp"
#include "text/stop_scan.hpp"

// One stop, as the pages are told of it.
struct Stop {
  StopReport report;  // the report as scanned; report.location is where the CPU stands
  bool readable;      // the report gave a location (not lost, address and cs:eip read)
  CpuState cpu;       // the registers read at the stop (kept from the last stop where
                      // the reply did not give them)
};

// What run control reports. Every member may be left empty.
struct RunEvents {
  void (*message)(const char *text);    // an event for the history
  void (*running)(bool running);        // the target started or stopped running
  void (*stopped)(const Stop &stop);    // a stop was read (report.lost: cut off by the
                                        // end of the debugger; nothing else was read)
  void (*hit)(const Stop &stop);        // a breakpoint or watchpoint of the user stopped it
  void (*traced)(const StopLocation &at);  // one traced instruction of a running target
  void (*tracing_enabled)();            // tracing is being switched on
  // True for a breakpoint a page set for itself (Run to Here): a stop on it
  // is no stop "on a breakpoint" of the user's.
  bool (*own_breakpoint)(uint32_t number);
};
extern RunEvents run_events;

// The handlers of the control bar's buttons (and keys). Each does nothing
// unless it may: Go, Step and Next while the debugger waits at its prompt,
// Stop while the target runs.
void run_go();
void run_step();
void run_next();
void run_stop();

// The first step of a new debugger, once its first prompt has come.
void run_first_step();

// The link's reply watch fired: the running target wrote.
void run_reply_ready();

// Where the CPU last stopped, as the last report gave it.
const StopLocation &current_location();

// True when the instruction at the current location may be stepped over.
bool next_offered();

// Instruction tracing. toggle_tracing switches it and tells the debugger;
// reset_tracing sets it off without a word (the default at start-up).
bool tracing_on();
void toggle_tracing();
void reset_tracing();

// Asks for the registers ("dump_cpu") and scans the reply into *cpu: fields
// the reply does not give keep their values. Nothing is asked unless the
// debugger waits at its prompt.
void read_registers(CpuState *cpu);

// Run control's state: one record (the test seam).
struct RunState {
  StopLocation location;  // where the CPU stands, as the last report gave it
  Stop stop;              // the last stop, as published
  bool tracing;
  bool next_enabled;      // the current instruction may be stepped over
  bool next_pending;      // a Next's temporary breakpoint is not reached yet
  uint32_t next_target;   // physical address of that breakpoint
};
RunState &run_seam();
