// Runs the real simulated PC (VUM_SIM_PROGRAM) as a child process joined by
// pipes, the way the front end does: commands to its standard input, replies
// read from its standard error up to the prompt.
//
// Reads are guarded by a generous deadline only so that a broken program
// fails the test instead of hanging it; no assertion depends on timing.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char **environ;

namespace simtest {

constexpr int kGuardMs = 30000;

inline std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) {
      out.push_back(text.substr(pos));
      break;
    }
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return out;
}

// True when `text` ends with a whole prompt "<bochs:N> ".
inline bool ends_with_prompt(const std::string &text) {
  size_t lt = text.rfind('<');
  if (lt == std::string::npos || text.compare(lt, 7, "<bochs:") != 0) return false;
  size_t i = lt + 7, digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  return digits > 0 && text.size() == i + 2 && text[i] == '>' && text[i + 1] == ' ';
}

class TempDir {
 public:
  TempDir() {
    char t[] = "/tmp/vum-sim-test-XXXXXX";
    if (mkdtemp(t)) path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string &name) const { return path_ + "/" + name; }
  std::string write(const std::string &name, const std::string &content) const {
    std::ofstream f(file(name), std::ios::binary);
    f << content;
    return file(name);
  }

 private:
  std::string path_;
};

// Waits until the file holds at least `count` lines and returns its lines.
inline std::vector<std::string> wait_for_lines(const std::string &path, size_t count) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
  for (;;) {
    std::string text = read_file(path);
    size_t complete = 0;
    for (char ch : text) complete += ch == '\n';
    if (complete >= count || std::chrono::steady_clock::now() > deadline) return lines_of(text);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

struct SimConfig {
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::string> args{"-q"};
  // Further descriptors of the program that also refer to the reply pipe
  // (1 joins standard output to it).
  std::vector<int> reply_duplicates{};
};

// What arrived on a stream within a wait, and whether the stream ended.
struct Drained {
  std::string bytes;
  bool ended = false;
};

class Sim {
 public:
  explicit Sim(const SimConfig &config = SimConfig()) {
    int in[2], err[2], out[2];
    if (pipe(in) || pipe(err) || pipe(out)) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    std::vector<std::string> env_text;
    for (char **e = environ; *e; ++e)
      if (strncmp(*e, "VUM_SIM_", 8) != 0) env_text.push_back(*e);
    for (const auto &kv : config.env) env_text.push_back(kv.first + "=" + kv.second);
    std::vector<char *> envp;
    for (std::string &s : env_text) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::string program = VUM_SIM_PROGRAM;
    std::vector<std::string> arg_text{program};
    for (const std::string &a : config.args) arg_text.push_back(a);
    std::vector<char *> argv;
    for (std::string &s : arg_text) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
      for (int fd : config.reply_duplicates) dup2(2, fd);
      execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    signal(SIGPIPE, SIG_IGN);
  }

  ~Sim() {
    close_input();
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (err_ >= 0) close(err_);
    if (out_ >= 0) close(out_);
  }

  pid_t pid() const { return pid_; }
  // The reading end of the program's standard output.
  int out_descriptor() const { return out_; }

  // Standard error up to and including the next prompt; what follows it
  // stays for the next read.
  std::string until_prompt() {
    size_t end;
    while ((end = prompt_end(pending_)) == std::string::npos) {
      if (!read_some(err_, &pending_)) {
        ADD_FAILURE() << "no prompt; read so far: " << pending_;
        return std::move(pending_);
      }
    }
    std::string text = pending_.substr(0, end);
    pending_.erase(0, end);
    return text;
  }

  void write_raw(const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) {
        ADD_FAILURE() << "cannot write to the simulated PC";
        return;
      }
      done += size_t(n);
    }
  }

  // Sends one command line and returns its reply with the prompt.
  std::string send(const std::string &line) {
    write_raw(line + "\n");
    return until_prompt();
  }

  void close_input() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  void interrupt() { kill(pid_, SIGINT); }
  void send_signal(int sig) { kill(pid_, sig); }

  // True while the process has not ended (an ended one is reaped, and
  // wait() then gives its status).
  bool alive() {
    if (waited_) return false;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) != pid_) return true;
    waited_ = true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return false;
  }

  // Standard error for `ms` milliseconds, or up to its end if that comes
  // first; with what was already read past the last prompt.
  Drained drain(int ms) {
    Drained d;
    d.bytes = std::move(pending_);
    pending_.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return d;
      struct pollfd p = {err_, POLLIN, 0};
      int r = poll(&p, 1, int(left.count()));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return d;
      char buf[65536];
      ssize_t n = read(err_, buf, sizeof buf);
      if (n <= 0) {
        d.ended = true;
        return d;
      }
      d.bytes.append(buf, size_t(n));
    }
  }

  // Stops reading replies: the program's writes then meet a closed pipe.
  void close_replies() {
    if (err_ >= 0) close(err_);
    err_ = -1;
  }

  // Standard error up to its end.
  std::string rest() {
    std::string text = std::move(pending_);
    pending_.clear();
    while (read_some(err_, &text)) {
    }
    return text;
  }

  // The exit status, or 128 + the signal that ended the process.
  int wait() {
    if (waited_) return status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    int st = 0;
    for (;;) {
      pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) break;
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the simulated PC did not end";
        kill(pid_, SIGKILL);
        waitpid(pid_, &st, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    waited_ = true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return status_;
  }

  // Standard output up to its end.
  std::string out() {
    std::string text;
    while (read_some(out_, &text)) {
    }
    return text;
  }

  // What standard output holds right now, without waiting.
  std::string out_now() {
    std::string text;
    for (;;) {
      struct pollfd p = {out_, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return text;
      char buf[65536];
      ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return text;
      text.append(buf, size_t(n));
    }
  }

  // Standard output until it has given `count` bytes (or ended, or the
  // guard deadline passed).
  std::string out_bytes(size_t count) {
    std::string text;
    while (text.size() < count && read_some(out_, &text)) {
    }
    return text;
  }

 private:
  // Appends what the descriptor offers; false at its end (or after the
  // guard deadline).
  bool read_some(int fd, std::string *into) {
    struct pollfd p = {fd, POLLIN, 0};
    int r;
    do {
      r = poll(&p, 1, kGuardMs);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
      ADD_FAILURE() << "the simulated PC went silent";
      return false;
    }
    char buf[65536];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    into->append(buf, size_t(n));
    return true;
  }

  // The end of the first whole prompt in `text`, or npos.
  static size_t prompt_end(const std::string &text) {
    for (size_t lt = text.find("<bochs:"); lt != std::string::npos; lt = text.find("<bochs:", lt + 1)) {
      size_t i = lt + 7;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
      if (i > lt + 7 && i + 1 < text.size() && text[i] == '>' && text[i + 1] == ' ') return i + 2;
    }
    return std::string::npos;
  }

  std::string pending_;
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool waited_ = false;
  int status_ = -1;
};

}  // namespace simtest
