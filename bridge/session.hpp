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

  void start_next();
  void send_plan_line();
  void on_line(std::string_view line);
  void on_prompt();
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
  bool seen_next_at_ = false;
  unsigned prompts_ = 0;     // prompts given to VUM
  bool front_closed_ = false;
  WatchTable watches_;
  std::string to_front_, to_emulator_;
};

}  // namespace bridge
