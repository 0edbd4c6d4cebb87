// A test of the bridge against the real Bochs 2.7: the bridge started as VUM
// starts its debugger (bridge_process.hpp), on the demo floppy or on one of
// the small guests (demo/guests), and the old dialect's exchanges.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bridge_process.hpp"
#include "old_grammar.hpp"

inline std::string hex(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

// The configuration of a small guest built from demo/guests/NAME.asm.
inline std::string guest_config(const std::string &name) {
  return std::string(VUM_BUILD_DIR) + "/demo/guests/" + name + ".bochsrc";
}

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = make_work_dir(); }
  void TearDown() override {
    bridge.reset();
    remove_tree(dir);
  }

  void start(const std::vector<std::string> &env = {}, bool guest_pipe = false) {
    bridge = std::make_unique<BridgeProcess>(dir, env, VUM_BRIDGE_BIN_DIR, guest_pipe);
    ASSERT_TRUE(bridge->read_reply(&startup)) << "no first prompt: " << startup;
  }
  // One of the small guests, its port 0xE9 bytes on a pipe the test reads.
  void start_guest(const std::string &name) { start({"VUM_BOCHSRC=" + guest_config(name)}, true); }

  std::string x(const std::string &line) { return bridge->exchange(line); }

  // "c" and its stop report, as lines. VUM drops the byte left after the
  // last prompt before it reads them.
  std::vector<std::string> go() {
    std::string reply = x("c");
    EXPECT_EQ(reply.substr(0, 1), " ");
    return old_grammar::lines(reply.substr(1));
  }

  // Runs to a physical address with a breakpoint that is deleted again.
  void run_to(uint32_t address) {
    x("pb " + hex(address));
    std::vector<std::string> stop = go();
    ASSERT_EQ(stop.size(), 3u) << x("info break");
    unsigned number = 0;
    ASSERT_TRUE(old_grammar::scan_breakpoint_stop(stop[0], &number)) << stop[0];
    old_grammar::Location at;
    ASSERT_TRUE(old_grammar::scan_location(stop[1] + "\n" + stop[2], &at));
    ASSERT_EQ(at.physical, address);
    x("d " + std::to_string(number));
  }

  old_grammar::Location step() {
    old_grammar::Location at;
    std::string reply = x("s");
    EXPECT_TRUE(old_grammar::scan_location(reply, &at)) << reply;
    return at;
  }

  void registers(uint32_t v[63]) {
    std::string reply = x("dump_cpu");
    ASSERT_EQ(old_grammar::scan_registers(reply, v), 63) << reply;
  }

  std::string dir, startup;
  std::unique_ptr<BridgeProcess> bridge;
};
