// The bridge against the real Bochs 2.7 on the small guests (demo/guests):
// a guest that prints on port 0xE9 without pause, a magic breakpoint, a
// triple fault, a processor halted with interrupts off; and Go then Stop
// back to back on the demo floppy.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator_fixture.hpp"

using namespace old_grammar;

namespace {

long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// The e9 guest (demo/guests/e9.asm): a greeting once, then a block shaped
// like the debugger's own text, for ever.
const char kGreeting[] = "e9 guest: hello\n";
const char kBlock[] =
    "(0) Magic breakpoint\n"
    "(0) Breakpoint 1, 0x0000000000007c00 in ?? ()\n"
    "Next at t=1\n"
    "(0) [0x000000007c00] 0000:7c00 (unk. ctxt): cli                       ; fa\n"
    "<bochs:7> ";
const uint32_t e9_again = 0x7C10;  // each block starts here

// Whether `text` is the greeting and then blocks, the last one maybe cut.
bool greeting_then_blocks(const std::string &text) {
  const std::string greeting = kGreeting, block = kBlock;
  if (text.compare(0, greeting.size(), greeting) != 0) return false;
  for (size_t i = greeting.size(); i < text.size(); i++)
    if (text[i] != block[(i - greeting.size()) % block.size()]) return false;
  return true;
}

}  // namespace

// The guest's bytes come on standard output, byte for byte and by the time
// the run stops; the replies on standard error never hold any of them.
TEST_F(EmulatorTest, GuestOutputComesApartFromTheReplies) {
  start_guest("e9");
  EXPECT_EQ(startup.find("Magic"), std::string::npos);
  x("pb " + hex(e9_again));
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  EXPECT_EQ(bridge->guest_output(2000, kGreeting), kGreeting);
  stop = go();
  ASSERT_EQ(stop.size(), 3u) << "the guest's text forged nothing";
  unsigned number = 0;
  EXPECT_TRUE(scan_breakpoint_stop(stop[0], &number));
  EXPECT_EQ(number, 1u);
  std::string both = std::string(kGreeting) + kBlock;
  EXPECT_EQ(bridge->guest_output(2000, both), both);
  EXPECT_EQ(step().physical, 0x7C13u);
}

// Printing without pause: the run goes on until Stop, Stop stops it within a
// second, and the dialogue stays in step. The replies hold no guest text;
// what came on standard output is the guest's text and nothing else.
TEST_F(EmulatorTest, AGuestPrintingWithoutPauseStopsOnStop) {
  start_guest("e9");
  for (int round = 0; round < 3; round++) {
    bridge->send("c");
    std::string reply;
    EXPECT_FALSE(bridge->read_reply(&reply, 500)) << "the run ended: " << reply;
    long long asked = now_ms();
    bridge->interrupt();
    ASSERT_TRUE(bridge->read_reply(&reply, 1000)) << "Stop took more than a second";
    EXPECT_LT(now_ms() - asked, 1000);
    std::vector<std::string> l = lines(reply.substr(1));
    ASSERT_EQ(l.size(), 2u) << reply;
    EXPECT_EQ(l[0].rfind("Next at t=", 0), 0u);
    Location at;
    EXPECT_TRUE(scan_instruction_line(l[1], &at)) << l[1];
    EXPECT_EQ(reply.find("Magic"), std::string::npos);
    EXPECT_EQ(reply.find("e9 guest"), std::string::npos);
  }
  Location at = step();
  EXPECT_GE(at.physical, 0x7C00u);
  EXPECT_LT(at.physical, 0x7C40u);
  const std::string &out = bridge->guest_output(200);
  EXPECT_GT(out.size(), 10000u) << "the guest printed for 1.5 s";
  EXPECT_TRUE(greeting_then_blocks(out)) << out.substr(0, 300);
}

// Nobody reads the guest's output (VUM busy, its pipe full): the bridge and
// the emulator go on, and Stop still stops within a second.
TEST_F(EmulatorTest, AGuestOutputNobodyReadsHoldsNothingUp) {
  start_guest("e9");  // the test reads nothing from standard output here
  bridge->send("c");
  std::string reply;
  EXPECT_FALSE(bridge->read_reply(&reply, 1500));
  long long asked = now_ms();
  bridge->interrupt();
  ASSERT_TRUE(bridge->read_reply(&reply, 1000)) << "Stop took more than a second";
  EXPECT_LT(now_ms() - asked, 1000);
  EXPECT_EQ(lines(reply.substr(1)).size(), 2u) << reply;
  Location at = step();
  EXPECT_LT(at.physical, 0x7C40u);
  // What the full pipe held came first, as the guest wrote it (later bytes
  // the bridge could not hold were dropped).
  EXPECT_TRUE(greeting_then_blocks(bridge->guest_output(200).substr(0, 60000)));
}

// xchg bx, bx with magic_break: enabled=1: the run stops after it with the
// notice before its location, and a step onto it likewise.
TEST_F(EmulatorTest, AMagicBreakpointStopsWithItsNotice) {
  start_guest("magic");
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  EXPECT_EQ(stop[0], "(0) Magic breakpoint");
  EXPECT_EQ(stop[1].rfind("Next at t=", 0), 0u);
  Location at;
  ASSERT_TRUE(scan_instruction_line(stop[2], &at));
  EXPECT_EQ(at.physical, 0x7C0Cu);
  EXPECT_EQ(at.text, "inc ax");

  bridge.reset();
  start_guest("magic");
  x("pb 0x7c0a");
  ASSERT_EQ(go().size(), 3u);
  std::vector<std::string> l = lines(x("s").substr(1));
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0], "(0) Magic breakpoint");
  ASSERT_TRUE(scan_location(l[1] + "\n" + l[2], &at));
  EXPECT_EQ(at.physical, 0x7C0Cu);
  EXPECT_EQ(lines(x("s").substr(1)).size(), 2u) << "no notice on the next step";
}

// int 3 with an interrupt table of limit 0: Bochs resets the processor and
// stops at F000:FFF0; the run's report, a step's, and a traced run's carry
// the notice and read as the usual location.
TEST_F(EmulatorTest, ATripleFaultStopsAtTheResetVectorWithItsNotice) {
  start_guest("triple");
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  EXPECT_EQ(stop[0], "(0) Reset after a triple fault");
  Location at;
  ASSERT_TRUE(scan_location(stop[1] + "\n" + stop[2], &at));
  EXPECT_EQ(at.physical, 0xFFFFFFF0u);
  EXPECT_EQ(at.cs, 0xF000u);
  EXPECT_EQ(at.eip, 0xFFF0u);

  x("pb 0x7c0f");
  ASSERT_EQ(go().size(), 3u);  // booted again, at the int 3
  std::vector<std::string> l = lines(x("s").substr(1));
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0], "(0) Reset after a triple fault");
  ASSERT_TRUE(scan_location(l[1] + "\n" + l[2], &at));
  EXPECT_EQ(at.physical, 0xFFFFFFF0u);

  // Traced: the trace lines, then the notice, then the location.
  ASSERT_EQ(go().size(), 3u);
  x("trace-on");
  stop = go();
  ASSERT_GE(stop.size(), 4u);
  EXPECT_EQ(stop[stop.size() - 3], "(0) Reset after a triple fault");
  ASSERT_TRUE(scan_location(stop[stop.size() - 2] + "\n" + stop.back(), &at));
  EXPECT_EQ(at.physical, 0xFFFFFFF0u);
  for (size_t i = 0; i + 3 < stop.size(); i++) EXPECT_TRUE(scan_instruction_line(stop[i], &at)) << stop[i];
  EXPECT_EQ(stop.size(), 4u) << "the int 3, traced once";
}

// Bochs's log in a file of the configuration's: the bridge reads the triple
// fault there.
TEST_F(EmulatorTest, ATripleFaultIsNamedWhenBochsLogsToAFile) {
  std::ifstream in(guest_config("triple"));
  std::stringstream text;
  text << in.rdbuf();
  std::string config = dir + "/triple.bochsrc";
  std::string rc = text.str();
  size_t image = rc.find("$VUM_DEMO_DIR");
  ASSERT_NE(image, std::string::npos);
  rc.replace(image, 13, std::string(VUM_BUILD_DIR) + "/demo/guests");
  std::ofstream(config) << rc << "log: " << dir << "/bochs.log\n";
  start({"VUM_BOCHSRC=" + config});
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  EXPECT_EQ(stop[0], "(0) Reset after a triple fault");
  std::ifstream log(dir + "/bochs.log");
  std::stringstream logged;
  logged << log.rdbuf();
  EXPECT_NE(logged.str().find("exception with no resolution"), std::string::npos) << "Bochs logged to the file";
}

// cli; hlt: a step on the halted processor does not return until SIGINT;
// then the usual location, and the dialogue goes on in step.
TEST_F(EmulatorTest, AStepOnAHaltedProcessorEndsOnStop) {
  start_guest("halt");
  x("pb 0x7c0a");
  ASSERT_EQ(go().size(), 3u);
  Location at = step();  // the hlt itself
  EXPECT_EQ(at.physical, 0x7C0Bu);
  for (int round = 0; round < 2; round++) {
    bridge->send("s");
    std::string reply;
    EXPECT_FALSE(bridge->read_reply(&reply, 500)) << "a halted step returned: " << reply;
    bridge->interrupt();
    ASSERT_TRUE(bridge->read_reply(&reply, 1000)) << "Stop gave no prompt";
    ASSERT_TRUE(scan_location(reply, &at)) << reply;
    EXPECT_EQ(at.physical, 0x7C0Bu);
  }
  std::vector<DumpRow> rows = read_dump(x("xp /2bx 0x7c0a"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values, "0xf4 0xeb");
  // A SIGINT at the idle prompt changes nothing.
  bridge->interrupt();
  usleep(200000);
  rows = read_dump(x("xp /2bx 0x7c0a"));
  ASSERT_EQ(rows.size(), 1u);
}

// Go then Stop back to back, as fast as VUM can send them: the SIGINT can
// come before Bochs has read "c". Each run must stop, 50 times in a row.
TEST_F(EmulatorTest, GoThenStopBackToBackStopsEveryRun) {
  start();
  run_to(0x7CA0);
  for (int pair = 0; pair < 50; pair++) {
    bridge->send("c");
    bridge->interrupt();
    std::string reply;
    ASSERT_TRUE(bridge->read_reply(&reply, 2000)) << "pair " << pair << " lost the session";
    Location at;
    ASSERT_TRUE(scan_location(reply, &at)) << "pair " << pair << ": " << reply;
    EXPECT_GE(at.physical, 0x7CA0u);
    EXPECT_LE(at.physical, 0x7CC1u);
  }
  // No SIGINT is left over for a later run.
  x("pb 0x7cc0");
  std::vector<std::string> stop = go();
  ASSERT_EQ(stop.size(), 3u);
  unsigned number = 0;
  EXPECT_TRUE(scan_breakpoint_stop(stop[0], &number)) << stop[0];
}
