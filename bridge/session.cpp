#include "session.hpp"

#include <cstdio>

namespace bridge {
namespace {

// A line longer than this without a newline is taken as it stands, so that
// nothing Bochs prints can make the buffer grow without bound.
constexpr size_t kLongestLine = 1 << 16;

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
  // Whatever VUM asked before, Bochs ends after it.
  queue_.push_back("q");
  start_next();
}

bool Session::running() const {
  return plan_.reply == Reply::Continue && (phase_ == Phase::Echo || phase_ == Phase::Reply);
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
    seen_next_at_ = false;
    send_plan_line();
  }
}

void Session::send_plan_line() {
  to_emulator_ += plan_.lines[plan_step_];
  to_emulator_ += '\n';
  if (plan_.reply == Reply::Quit) {
    phase_ = Phase::Quit;
    pending_.clear();
    queue_.clear();
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

void Session::from_emulator(std::string_view bytes) {
  if (phase_ == Phase::Quit) return;
  pending_.append(bytes.data(), bytes.size());
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

void Session::on_line(std::string_view line) {
  watches_.learn(line);
  if (starts_with(line, "Error: no more ") || starts_with(line, "Too many ")) refusals_.emplace_back(line);
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
      if (seen_next_at_) {
        held_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
      } else if (starts_with(line, "Next at t=")) {
        seen_next_at_ = true;
        held_ += without_prompt_marks(std::string(line)) + "\n";
      } else {
        before_next_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
      }
      break;
    case Reply::Continue:
      // While tracing, 2.7 notes interrupts and exceptions between the trace
      // lines ("CPU 0: Interrupt 0x12 occurred (error_code=0x0000)"). The old
      // dialect has no such line, and VUM would take it for the end of the run.
      if (is_cpu_notice(line)) break;
      to_front_ += without_prompt_marks(translate_line(line, watches_)) + "\n";
      break;
    case Reply::BreakList:
    case Reply::WatchList:
    case Reply::Registers:
    case Reply::Examine:
      collected_.append(line.data(), line.size());
      collected_ += '\n';
      break;
    case Reply::Quiet:
    case Reply::Quit:
      break;
  }
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
      case Reply::Step:
        // A step that printed no location (an error): its lines as they are.
        if (!seen_next_at_) held_ += before_next_;
        break;
      default: break;
    }
  } else if (phase_ == Phase::Idle) {
    return;  // a prompt nobody asked for
  }
  char prompt[32];
  snprintf(prompt, sizeof prompt, "<bochs:%u> ", ++prompts_);
  to_front_ += held_;
  to_front_ += prompt;
  held_.clear();
  collected_.clear();
  before_next_.clear();
  phase_ = Phase::Idle;
  start_next();
}

}  // namespace bridge
