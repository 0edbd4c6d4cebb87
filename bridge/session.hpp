// One debugging session between VUM (the old dialect) and Bochs 2.7, as a
// machine of bytes in and bytes out; the program around it (main.cpp) only
// moves bytes between the pipes and passes signals on.
//
// Bochs gets one line at a time, and the next only after its prompt: then the
// first line that comes back is the echo of the line sent, and is dropped.
// Replies are read line by line; the prompt "<bochs:N> " is recognised when it
// stands complete at the start of a line, whatever bytes follow it. VUM gets
// one prompt per line it sent, numbered by its own lines.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "dialect.hpp"

namespace bridge {

class Session {
 public:
  // Bytes from VUM's command stream, and its end.
  void from_front(std::string_view bytes);
  void front_closed();

  // Bytes from Bochs's standard output.
  void from_emulator(std::string_view bytes);
  // One line of Bochs's log (its standard error, or its log file): read
  // before the output that followed it, it tells a triple fault from other
  // resets.
  void from_emulator_log(std::string_view line);
  // Called when the session has met a reset: the caller reads what Bochs
  // has logged by then (Bochs logs the triple fault before it prints the
  // reset's location) and hands it to from_emulator_log.
  void on_log_wanted(std::function<void()> read_log) { read_log_ = std::move(read_log); }

  // SIGINT from VUM. It goes to Bochs only once Bochs has read the line of
  // the run it is meant to stop (the echo of "c" or "s" has come): at its
  // prompt Bochs drops it. One that comes while VUM's lines wait for
  // Bochs's prompt is kept for the next run; one at the idle prompt is
  // dropped, as Bochs would drop it.
  void interrupt();
  // A SIGINT should go to Bochs now; the caller sends it and says so.
  bool interrupt_due() const { return interrupt_ == Interrupt::Due; }
  void interrupt_sent() { interrupt_ = Interrupt::Sent; }
  // A SIGINT went to Bochs and the run it was for has not ended yet (Bochs
  // can take it just before it starts the run and then run on: the caller
  // sends it again after a while).
  bool interrupt_outstanding() const { return interrupt_ == Interrupt::Sent; }
  // Whether a reply that may hold a stop report is under way: Bochs's log
  // lines that come then count.
  bool wants_log() const { return plan_.runs && awaiting_reply(); }
  // How many lines that run the guest have been put into to_emulator(): the
  // log Bochs wrote before such a line reaches it belongs to earlier
  // commands, and the caller reads it away first.
  unsigned runs_sent() const { return runs_sent_; }

  // Bytes waiting to be written; the writer erases what it wrote.
  std::string &to_front() { return to_front_; }
  std::string &to_emulator() { return to_emulator_; }

  // A run ("c") is under way: Bochs prints nothing more until it stops.
  bool running() const;
  // A line went to Bochs and its reply is not complete yet.
  bool awaiting_reply() const { return phase_ == Phase::Echo || phase_ == Phase::Reply; }
  // The quit command has gone to Bochs: nothing more is read from it.
  bool quit_sent() const { return phase_ == Phase::Quit; }
  // Bochs has shown its first prompt.
  bool started() const { return phase_ != Phase::Starting; }
  // Bochs asked what to do about a panic (on its standard output, waiting on
  // its standard input): the session answered "die".
  bool panic_answered() const { return panic_answered_; }
  // VUM's command stream has ended.
  bool front_ended() const { return front_closed_; }

  // Each old line received, for a transcript; cleared by the reader.
  std::deque<std::string> &received() { return received_; }
  // Bochs's refusals that VUM drops (a 17th breakpoint of a kind, ...), for
  // the log; cleared by the reader.
  std::deque<std::string> &refusals() { return refusals_; }

  const WatchTable &watches() const { return watches_; }

 private:
  enum class Phase { Starting, Idle, Echo, Reply, Quit };
  enum class Interrupt { None, Held, Due, Sent };

  void start_next();
  void send_plan_line();
  void on_line(std::string_view line);
  void on_step_line(std::string_view line);
  void on_run_line(std::string_view line);
  void on_prompt();
  void give_prompt();
  void answer_panic_question();
  // A trace line that may stand for a reset of the processor: Bochs prints
  // one when it resets (tracing off), or the last one again (tracing on).
  // It is a reset when the location that follows is the reset vector.
  bool may_be_reset(std::string_view line);
  // A run's lines held back while a reset is in question, handed on.
  void flush_run_lines(bool reset);
  // Whether Bochs's log has named a triple fault since the run began.
  bool triple_fault_logged();
  // Length of the prompt at the start of `pending_`: 0 when none; -1 while
  // the bytes there could still become one.
  long prompt_length() const;

  Phase phase_ = Phase::Starting;
  std::string pending_;      // bytes from Bochs not handled yet
  std::string front_line_;   // a command line from VUM not complete yet
  std::deque<std::string> queue_;  // old lines waiting for Bochs's prompt
  std::deque<std::string> received_;
  std::deque<std::string> refusals_;
  Plan plan_;
  size_t plan_step_ = 0;
  std::string collected_;    // a whole reply, for the replies rewritten as a whole
  std::string held_;         // old reply text handed over at the prompt
  std::string before_next_;  // lines of a step reply before its "Next at" line
  std::string notices_;      // notice lines of a step reply, handed over before "Next at"
  std::string next_at_;      // a reply's "Next at" line, when held back
  std::string after_next_;   // the translated lines of a step reply after it
  std::string location_;     // the first line after it, as Bochs wrote it
  std::string reset_line_;   // a trace line that may stand for a reset
  bool seen_next_at_ = false;
  bool tracing_ = false;     // Bochs said tracing is on
  bool triple_fault_ = false;  // Bochs's log named a triple fault since the run began
  bool have_tick_ = false;   // the last trace line's tick count, in this reply
  uint64_t last_tick_ = 0;
  bool panic_answered_ = false;
  Interrupt interrupt_ = Interrupt::None;
  unsigned runs_sent_ = 0;
  std::function<void()> read_log_;
  unsigned prompts_ = 0;     // prompts given to VUM
  bool front_closed_ = false;
  WatchTable watches_;
  std::string to_front_, to_emulator_;
};

}  // namespace bridge
