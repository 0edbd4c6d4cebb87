// The bridge started exactly as VUM starts its debugger: `/bin/sh -c "exec
// bochs -q"` with the bridge's link directory first on PATH, commands on the
// child's standard input, replies read from its standard error, standard
// output (the guest's port 0xE9 bytes) on /dev/null or, when asked, on a pipe
// the test reads. The destructor ends the bridge and checks that no emulator
// is left behind, also when the test failed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>
#include "link/debugger_child.hpp"

class BridgeProcess {
 public:
  // `dir`: the current directory of the bridge; `env`: NAME=VALUE settings;
  // `link_dir`: the directory whose "bochs" is the bridge.
  explicit BridgeProcess(const std::string &dir, const std::vector<std::string> &env = {},
                         const std::string &link_dir = VUM_BRIDGE_BIN_DIR, bool guest_pipe = false);
  ~BridgeProcess();
  BridgeProcess(const BridgeProcess &) = delete;
  BridgeProcess &operator=(const BridgeProcess &) = delete;

  // Reads through the next prompt ("<bochs:N>"); `text` gets what came
  // before it, starting with the byte left after the previous prompt, as VUM
  // reads it. False at end of file or after `timeout_ms`.
  bool read_reply(std::string *text, int timeout_ms = 30000);
  // One command and its reply; a failure is reported to the test.
  std::string exchange(const std::string &line, int timeout_ms = 30000);
  void send(const std::string &line);
  void interrupt();  // SIGINT to the child, as VUM's Stop sends it

  // The guest's bytes that came on standard output (with `guest_pipe`):
  // everything read so far, after reading what is there for up to
  // `wait_ms` or until `until` is among them.
  const std::string &guest_output(int wait_ms = 0, const std::string &until = "");

  // Closes the command stream and waits for the bridge to end; false when it
  // has not ended within the time.
  bool close_and_wait(int timeout_ms = 10000);
  // Whether standard error reached its end (the bridge and the emulator
  // closed it) within the time.
  bool reply_stream_ends(int timeout_ms = 10000);

  pid_t pid() const { return pid_; }
  // The emulator, a child of the bridge; 0 when there is none.
  pid_t emulator_pid() const;
  int exit_status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1, err_ = -1, out_ = -1;
  std::string buffer_, guest_;
  bool ended_ = false;
  int status_ = -1;
  pid_t emulator_ = 0;  // remembered for the check at the end
};

// Whether process `pid` has ended (gone, or a zombie), waiting up to the time.
bool process_ends(pid_t pid, int timeout_ms);
// The children of `parent` whose program is bochs-bin.
std::vector<pid_t> emulator_children(pid_t parent);
// A fresh, empty directory under /tmp; removed by remove_tree.
std::string make_work_dir();
void remove_tree(const std::string &dir);
