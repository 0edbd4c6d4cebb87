#include "bridge_process.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include "link/debugger_child.hpp"

namespace {

long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// State letter and parent of a process, from /proc; false when it is gone.
bool process_state(pid_t pid, char *state, pid_t *parent) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  int ppid = 0;
  if (sscanf(stat.c_str() + close + 1, " %c %d", state, &ppid) != 2) return false;
  *parent = ppid;
  return true;
}

}  // namespace

bool process_ends(pid_t pid, int timeout_ms) {
  long long end = now_ms() + timeout_ms;
  for (;;) {
    char state = 0;
    pid_t parent = 0;
    if (!process_state(pid, &state, &parent) || state == 'Z' || state == 'X') return true;
    if (now_ms() > end) return false;
    usleep(10000);
  }
}

std::vector<pid_t> emulator_children(pid_t parent) {
  std::vector<pid_t> out;
  DIR *proc = opendir("/proc");
  if (!proc) return out;
  while (struct dirent *e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    pid_t pid = atoi(e->d_name);
    char state = 0;
    pid_t ppid = 0;
    if (!process_state(pid, &state, &ppid) || ppid != parent) continue;
    std::string comm = read_file("/proc/" + std::to_string(pid) + "/comm");
    if (comm == "bochs-bin\n") out.push_back(pid);
  }
  closedir(proc);
  return out;
}

std::string make_work_dir() {
  char tmpl[] = "/tmp/vum-bridge-test-XXXXXX";
  if (mkdtemp(tmpl) == NULL) return "/tmp";
  return tmpl;
}

void remove_tree(const std::string &dir) {
  if (dir.rfind("/tmp/", 0) != 0) return;
  std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
}

BridgeProcess::BridgeProcess(const std::string &dir, const std::vector<std::string> &env,
                             const std::string &link_dir, bool guest_pipe) {
  int in[2], err[2], out[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || (guest_pipe && pipe2(out, O_CLOEXEC) != 0)) {
    ADD_FAILURE() << "pipes";
    return;
  }
  std::string path = link_dir + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(err[1], 2);
    if (out[1] >= 0) {
      dup2(out[1], 1);
    } else {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
    }
    if (chdir(dir.c_str()) != 0) _exit(126);
    setenv("PATH", path.c_str(), 1);
    for (const std::string &e : env) putenv(strdup(e.c_str()));
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    execl("/bin/sh", "sh", "-c", "exec bochs -q", (char *)NULL);
    _exit(127);
  }
  close(in[0]);
  close(err[1]);
  in_ = in[1];
  err_ = err[0];
  if (out[0] >= 0) {
    close(out[1]);
    out_ = out[0];
  }
  signal(SIGPIPE, SIG_IGN);
}

BridgeProcess::~BridgeProcess() {
  if (pid_ <= 0) return;
  pid_t emulator = emulator_ ? emulator_ : emulator_pid();
  if (!close_and_wait(10000)) {
    ADD_FAILURE() << "the bridge did not end when its commands ended";
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
  }
  if (emulator > 0) {
    EXPECT_TRUE(process_ends(emulator, 5000)) << "an emulator was left behind";
  }
  if (err_ >= 0) close(err_);
  if (out_ >= 0) close(out_);
}

const std::string &BridgeProcess::guest_output(int wait_ms, const std::string &until) {
  long long end = now_ms() + wait_ms;
  while (out_ >= 0) {
    if (!until.empty() && guest_.find(until) != std::string::npos) break;
    long long left = end - now_ms();
    struct pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, int(left > 0 ? left : 0)) <= 0) break;
    char buf[65536];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      break;
    }
    guest_.append(buf, size_t(n));
  }
  return guest_;
}

pid_t BridgeProcess::emulator_pid() const {
  if (pid_ <= 0 || ended_) return 0;
  std::vector<pid_t> kids = emulator_children(pid_);
  return kids.empty() ? 0 : kids[0];
}

void BridgeProcess::send(const std::string &line) {
  if (!emulator_) emulator_ = emulator_pid();
  std::string l = line + "\n";
  if (in_ < 0 || write(in_, l.data(), l.size()) != ssize_t(l.size())) ADD_FAILURE() << "cannot send " << line;
}

void BridgeProcess::interrupt() { kill(pid_, SIGINT); }

bool BridgeProcess::read_reply(std::string *text, int timeout_ms) {
  long long end = now_ms() + timeout_ms;
  for (;;) {
    // "<bochs:N>": the byte after it stays for the next reply.
    size_t lt = buffer_.find("<bochs:");
    if (lt != std::string::npos) {
      size_t i = lt + 7;
      while (i < buffer_.size() && isdigit((unsigned char)buffer_[i])) i++;
      if (i < buffer_.size() && buffer_[i] == '>' && i > lt + 7) {
        *text = buffer_.substr(0, lt);
        buffer_.erase(0, i + 1);
        return true;
      }
    }
    long long left = end - now_ms();
    if (left <= 0 || err_ < 0) return false;
    struct pollfd p = {err_, POLLIN, 0};
    if (poll(&p, 1, int(left)) <= 0) continue;
    char buf[65536];
    ssize_t n = read(err_, buf, sizeof buf);
    if (n <= 0) {
      *text = buffer_;
      return false;
    }
    buffer_.append(buf, size_t(n));
  }
}

std::string BridgeProcess::exchange(const std::string &line, int timeout_ms) {
  send(line);
  std::string text;
  if (!read_reply(&text, timeout_ms)) ADD_FAILURE() << "no prompt after " << line << "; got: " << text;
  return text;
}

bool BridgeProcess::reply_stream_ends(int timeout_ms) {
  long long end = now_ms() + timeout_ms;
  char buf[65536];
  while (err_ >= 0) {
    long long left = end - now_ms();
    if (left <= 0) return false;
    struct pollfd p = {err_, POLLIN, 0};
    if (poll(&p, 1, int(left)) <= 0) continue;
    ssize_t n = read(err_, buf, sizeof buf);
    if (n <= 0) return true;
  }
  return true;
}

bool BridgeProcess::close_and_wait(int timeout_ms) {
  if (ended_) return true;
  if (!emulator_) emulator_ = emulator_pid();
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
  long long end = now_ms() + timeout_ms;
  for (;;) {
    int status;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      ended_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    if (now_ms() > end) return false;
    usleep(10000);
  }
}
