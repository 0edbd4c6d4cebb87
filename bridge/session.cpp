#include "session.hpp"

#include <cstdio>

namespace bridge {
namespace {

// A line longer than this without a newline is taken as it stands, so that
// nothing Bochs prints can make the buffer grow without bound.
constexpr size_t kLongestLine = 1 << 16;

// What Bochs prints, on its standard output, when a panic's action is "ask":
// it then waits for an answer on its standard input.
constexpr std::string_view kPanicQuestion = "Choose one of the actions above: ";

// "CPU 0: …"
bool is_cpu_notice(std::string_view line) {
  if (!starts_with(line, "CPU ")) return false;
  size_t i = 4;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') i++;
  return i > 4 && line.substr(i, 2) == ": ";
}

}  // namespace

void Session::from_front(std::string_view bytes) {
  for (char c : bytes) {
    if (c != '\n') {
      if (front_line_.size() < kLongestLine) front_line_ += c;
      continue;
    }
    received_.push_back(front_line_);
    queue_.push_back(std::move(front_line_));
    front_line_.clear();
  }
  start_next();
}

void Session::front_closed() {
  if (front_closed_) return;
  front_closed_ = true;
  if (!front_line_.empty()) from_front("\n");
  // A run in progress is interrupted; whatever VUM asked before, Bochs ends
  // after it.
  if (running()) interrupt();
  queue_.push_back("q");
  start_next();
}

bool Session::running() const {
  return plan_.reply == Reply::Continue && (phase_ == Phase::Echo || phase_ == Phase::Reply);
}

void Session::interrupt() {
  if (phase_ == Phase::Quit || interrupt_ == Interrupt::Due || interrupt_ == Interrupt::Sent) return;
  if (plan_.runs && phase_ == Phase::Reply)
    interrupt_ = Interrupt::Due;
  else if ((plan_.runs && phase_ == Phase::Echo) || !queue_.empty())
    interrupt_ = Interrupt::Held;
}

void Session::from_emulator_log(std::string_view line) {
  if (is_triple_fault_log(line)) triple_fault_ = true;
}

void Session::start_next() {
  while (phase_ == Phase::Idle && !queue_.empty()) {
    std::string line = std::move(queue_.front());
    queue_.pop_front();
    plan_ = plan_command(line, watches_);
    plan_step_ = 0;
    collected_.clear();
    held_.clear();
    before_next_.clear();
    notices_.clear();
    next_at_.clear();
    after_next_.clear();
    location_.clear();
    reset_line_.clear();
    seen_next_at_ = false;
    have_tick_ = false;
    if (plan_.lines.empty()) {
      // Refused: the error line and the prompt, and Bochs hears nothing.
      held_ = without_prompt_marks(plan_.refusal) + "\n";
      give_prompt();
      continue;
    }
    if (plan_.runs) {
      triple_fault_ = false;
      runs_sent_++;
    }
    send_plan_line();
  }
  // A SIGINT kept for a run that none of the waiting lines was.
  if (phase_ == Phase::Idle && queue_.empty() && interrupt_ == Interrupt::Held) interrupt_ = Interrupt::None;
}

void Session::send_plan_line() {
  to_emulator_ += plan_.lines[plan_step_];
  to_emulator_ += '\n';
  if (plan_.reply == Reply::Quit) {
    phase_ = Phase::Quit;
    pending_.clear();
    queue_.clear();
    interrupt_ = Interrupt::None;
    return;
  }
  phase_ = Phase::Echo;
}

long Session::prompt_length() const {
  static const char head[] = "<bochs:";
  size_t i = 0;
  for (; i < 7; i++) {
    if (i == pending_.size()) return -1;
    if (pending_[i] != head[i]) return 0;
  }
  size_t digits = 0;
  while (i < pending_.size() && pending_[i] >= '0' && pending_[i] <= '9' && digits < 10) i++, digits++;
  if (i == pending_.size()) return -1;
  if (digits == 0 || pending_[i] != '>') return 0;
  if (++i == pending_.size()) return -1;
  return pending_[i] == ' ' ? long(i + 1) : 0;
}

void Session::answer_panic_question() {
  if (panic_answered_ || phase_ == Phase::Quit) return;
  // The question stands at the start of the last line.
  size_t nl = pending_.rfind('\n');
  size_t at = nl == std::string::npos ? 0 : nl + 1;
  if (pending_.compare(at, kPanicQuestion.size(), kPanicQuestion) != 0) return;
  // The default answer would be the same; "die" says it plainly. Bochs
  // then ends, and the caller hands on what it said.
  to_emulator_ += "die\n";
  panic_answered_ = true;
  pending_.erase(at);
}

void Session::from_emulator(std::string_view bytes) {
  if (phase_ == Phase::Quit) return;
  pending_.append(bytes.data(), bytes.size());
  if (!panic_answered_ && !pending_.empty() && pending_.back() == ' ') answer_panic_question();
  // A reply handed over whole is read once its prompt has come: until the
  // text ends with a prompt at the start of a line there is nothing to do.
  if (phase_ == Phase::Reply && plan_.reply != Reply::Continue) {
    size_t nl = pending_.rfind('\n');
    size_t last = nl == std::string::npos ? 0 : nl + 1;
    if (pending_.size() - last < 10 || pending_[last] != '<' || pending_.back() != ' ') return;
  }
  size_t at = 0;  // bytes of pending_ handled
  while (at < pending_.size() && phase_ != Phase::Quit) {
    if (phase_ == Phase::Echo) {
      size_t nl = pending_.find('\n', at);
      if (nl == std::string::npos) {
        at = pending_.size();  // the rest of the echo comes later
        break;
      }
      at = nl + 1;
      phase_ = Phase::Reply;
      // Bochs has read the line: a SIGINT held for this run may go now.
      if (plan_.runs && interrupt_ == Interrupt::Held) interrupt_ = Interrupt::Due;
      continue;
    }
    if (pending_[at] == '<') {
      pending_.erase(0, at);
      at = 0;
      long n = prompt_length();
      if (n < 0) break;  // wait for more
      if (n > 0) {
        at = size_t(n);
        on_prompt();
        continue;
      }
    }
    size_t nl = pending_.find('\n', at);
    if (nl == std::string::npos) {
      if (pending_.size() - at < kLongestLine) break;
      nl = pending_.size();
    }
    // on_line does not touch pending_, so the line can stay where it is.
    std::string_view line(pending_.data() + at, nl - at);
    at = nl < pending_.size() ? nl + 1 : nl;
    on_line(line);
  }
  if (phase_ == Phase::Quit)
    pending_.clear();
  else
    pending_.erase(0, at);
}

bool Session::may_be_reset(std::string_view line) {
  uint64_t tick = 0;
  if (!is_trace_line(line, &tick)) return false;
  bool again = have_tick_ && tick == last_tick_;
  have_tick_ = true;
  last_tick_ = tick;
  return !tracing_ || again;
}

bool Session::triple_fault_logged() {
  // Bochs prints the reset's trace line, logs the triple fault, then prints
  // "Next at": once the location has come, the log holds it.
  if (read_log_ && !triple_fault_) read_log_();
  return triple_fault_;
}

namespace {

// The current-instruction line of the reset vector, F000:FFF0.
bool at_reset_vector(std::string_view line) {
  return starts_with(line, "(") && line.find("] f000:fff0 ") != std::string_view::npos;
}

}  // namespace

void Session::on_line(std::string_view line) {
  watches_.learn(line);
  if (starts_with(line, "Error: no more ") || starts_with(line, "Too many ")) refusals_.emplace_back(line);
  if (line == "Tracing enabled for CPU0") tracing_ = true;
  if (line == "Tracing disabled for CPU0") tracing_ = false;
  switch (phase_) {
    case Phase::Starting:
      held_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
      return;
    case Phase::Idle:
      // Bochs does not speak unasked; a line here would open VUM's next reply.
      return;
    default:
      break;
  }
  switch (plan_.reply) {
    case Reply::Pass:
      held_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
      break;
    case Reply::Step:
      on_step_line(line);
      break;
    case Reply::Continue:
      on_run_line(line);
      break;
    case Reply::BreakList:
    case Reply::WatchList:
    case Reply::Registers:
    case Reply::Examine:
    case Reply::Disassemble:
      collected_.append(line.data(), line.size());
      collected_ += '\n';
      break;
    case Reply::Quiet:
    case Reply::Quit:
      break;
  }
}

void Session::on_step_line(std::string_view line) {
  if (seen_next_at_) {
    if (after_next_.empty()) location_ = std::string(line);
    after_next_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
  } else if (starts_with(line, "Next at t=")) {
    seen_next_at_ = true;
    next_at_ = without_prompt_marks(std::string(line)) + "\n";
  } else if (may_be_reset(line)) {
    reset_line_ = std::string(line);
  } else if (is_notice_line(line)) {
    notices_ += without_prompt_marks(std::string(line)) + "\n";
  } else {
    // The step's own trace line, a watchpoint's report, an interrupt's note:
    // the old step reply has none of them. Shown only when no location comes.
    before_next_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
  }
}

void Session::on_run_line(std::string_view line) {
  // While tracing, 2.7 notes interrupts and exceptions between the trace
  // lines ("CPU 0: Interrupt 0x12 occurred (error_code=0x0000)"). The old
  // dialect has no such line, and VUM would take it for the end of the run.
  if (is_cpu_notice(line)) return;
  if (!reset_line_.empty()) {
    if (next_at_.empty() && starts_with(line, "Next at t=")) {
      next_at_ = without_prompt_marks(std::string(line)) + "\n";
      return;
    }
    // The location after "Next at" says whether it was a reset; any other
    // line says it was not.
    flush_run_lines(!next_at_.empty() && at_reset_vector(line));
  }
  if (may_be_reset(line)) {
    reset_line_ = std::string(line);
    return;
  }
  to_front_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
}

void Session::flush_run_lines(bool reset) {
  if (reset_line_.empty()) return;
  to_front_ += reset ? reset_notice(reset_line_, triple_fault_logged()) + "\n"
                     : without_prompt_marks(translate_line(reset_line_, watches_)) + "\n";
  to_front_ += next_at_;
  reset_line_.clear();
  next_at_.clear();
}

void Session::on_prompt() {
  if (phase_ == Phase::Reply || phase_ == Phase::Echo) {
    if (plan_step_ + 1 < plan_.lines.size()) {
      plan_step_++;
      send_plan_line();
      return;
    }
    switch (plan_.reply) {
      case Reply::BreakList: held_ += without_prompt_marks(rewrite_breakpoint_list(collected_)); break;
      case Reply::WatchList: held_ += without_prompt_marks(rewrite_watch_list(collected_, watches_)); break;
      case Reply::Registers: held_ += without_prompt_marks(rebuild_registers(collected_)); break;
      case Reply::Examine: held_ += without_prompt_marks(rewrite_examine(collected_, plan_.examine)); break;
      case Reply::Disassemble: held_ += without_prompt_marks(rewrite_disassembly(collected_)); break;
      case Reply::Step:
        if (!seen_next_at_) {
          // A step that printed no location (an error): its lines as they are.
          held_ += notices_ + before_next_;
          break;
        }
        // Notices, then the two lines of the location.
        held_ += notices_;
        if (!reset_line_.empty() && at_reset_vector(location_))
          held_ += reset_notice(reset_line_, triple_fault_logged()) + "\n";
        held_ += next_at_ + after_next_;
        break;
      case Reply::Continue:
        flush_run_lines(false);
        break;
      default: break;
    }
  } else if (phase_ == Phase::Idle) {
    return;  // a prompt nobody asked for
  }
  // The run is over: a SIGINT still on its way finds Bochs at its prompt,
  // where it changes nothing.
  if (interrupt_ != Interrupt::Held) interrupt_ = Interrupt::None;
  give_prompt();
  start_next();
}

void Session::give_prompt() {
  char prompt[32];
  snprintf(prompt, sizeof prompt, "<bochs:%u> ", ++prompts_);
  to_front_ += held_;
  to_front_ += prompt;
  held_.clear();
  collected_.clear();
  before_next_.clear();
  notices_.clear();
  next_at_.clear();
  after_next_.clear();
  location_.clear();
  reset_line_.clear();
  phase_ = Phase::Idle;
}

}  // namespace bridge
