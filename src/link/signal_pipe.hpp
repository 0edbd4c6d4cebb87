// Signals on the main loop: one self-pipe for every signal VUM reacts to.
// A handler does only what must happen at once (async-signal-safe), then
// writes the signal's number to the pipe; the main loop reads it and runs
// the reaction there, where anything may be done.
#pragma once

// Installs the reaction to `sig`. `in_handler` (may be NULL) runs inside
// the handler; `reaction` runs on the main loop, once for any number of
// signals that came since it last ran. `restart`: interrupted system calls
// are restarted (SA_RESTART).
void react_to_signal(int sig, void (*in_handler)(int sig), void (*reaction)(int sig),
                     bool restart = true);

// Wakes the main loop for the reaction to `sig` as if it had come; safe in
// a signal handler and from any thread.
void raise_on_main_loop(int sig);
