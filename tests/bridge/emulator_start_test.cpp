// Starts that fail: the bridge checks what it can before it starts Bochs,
// and when Bochs ends before its first prompt it passes on Bochs's own words
// as the last lines of its standard error, with no prompt, and ends with a
// status other than 0 within two seconds.
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator_fixture.hpp"

namespace {

long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// The demo's configuration, the floppy named by its path, with each `from`
// replaced by its `to` (or `to` added at the end).
std::string demo_config_with(const std::vector<std::pair<std::string, std::string>> &changes) {
  std::ifstream demo(std::string(VUM_BUILD_DIR) + "/demo/bochsrc");
  std::stringstream s;
  s << demo.rdbuf();
  std::string text = s.str();
  size_t image = text.find("$VUM_DEMO_DIR");
  if (image != std::string::npos) text.replace(image, 13, std::string(VUM_BUILD_DIR) + "/demo");
  for (const auto &c : changes) {
    size_t at = c.first.empty() ? std::string::npos : text.find(c.first);
    if (at == std::string::npos)
      text += c.second + "\n";
    else
      text.replace(at, c.first.size(), c.second);
  }
  return text;
}
std::string demo_config_with(const std::string &from, const std::string &to) { return demo_config_with({{from, to}}); }

// How long Bochs itself takes to start and fail on `config` (told to end
// at a panic), run directly: on a busy machine its start alone can take
// seconds, which the bridge cannot shorten.
long long bare_failure_ms(const std::string &config, const std::vector<std::string> &env) {
  long long started = now_ms();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    for (const std::string &e : env) putenv(strdup(e.c_str()));
    execlp("bochs-bin", "bochs-bin", "-q", "-f", config.c_str(), "panic: action=fatal", (char *)NULL);
    _exit(127);
  }
  int status;
  waitpid(pid, &status, 0);
  return now_ms() - started;
}

}  // namespace

TEST_F(EmulatorTest, AStartThatFailsSaysWhyAndEnds) {
  const struct {
    const char *what;
    std::string config;  // written to the test's directory as bochsrc; empty: none
    std::vector<std::string> env;
    const char *last_line;  // a part of the last line of standard error
    bool bochs_starts;      // the bridge's checks pass and Bochs is started
  } cases[] = {
      {"a ROM image that is not there",
       demo_config_with("/usr/share/bochs/BIOS-bochs-latest", "/nonexistent/BIOS-bochs-latest"),
       {},
       "ROM: couldn't open ROM image file '/nonexistent/BIOS-bochs-latest'.", true},
      {"a ROM image that is not there, and Bochs asks what to do (it is told to die)",
       demo_config_with({{"/usr/share/bochs/BIOS-bochs-latest", "/nonexistent/BIOS-bochs-latest"},
                         {"panic: action=fatal", "panic: action=ask"}}),
       {},
       "ROM: couldn't open ROM image file '/nonexistent/BIOS-bochs-latest'.", true},
      {"a syntax error", demo_config_with("", "frobnicate: yes"), {}, "directive 'frobnicate' not understood", true},
      {"a display library this Bochs does not have",
       demo_config_with("display_library: x", "display_library: nogui"),
       {},
       "display library 'nogui' not available", true},
      {"a display library that cannot be driven",
       demo_config_with("display_library: x", "display_library: term"),
       {},
       "display_library term cannot be driven", false},
      {"no X display", demo_config_with("", ""), {"DISPLAY="}, "display_library x needs an X display, and DISPLAY is not set", false},
      {"an X display that is not there (Bochs asks what to do, and is told to die)",
       demo_config_with("panic: action=fatal", "panic: action=ask"),
       {"DISPLAY=vum-no-such-display"},
       "cannot connect to X server vum-no-such-display", true},
      {"a configuration file that is not there", "", {"VUM_BOCHSRC=/nonexistent/bochsrc"},
       "cannot read the configuration file /nonexistent/bochsrc", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.config.empty()) std::ofstream(dir + "/bochsrc") << c.config;
    // Two seconds, or Bochs's own time and one more second when the machine
    // is so busy that Bochs alone takes longer.
    long long limit = 2000;
    if (c.bochs_starts) limit = std::max(limit, bare_failure_ms(dir + "/bochsrc", c.env) + 1000);
    long long started = now_ms();
    bridge = std::make_unique<BridgeProcess>(dir, c.env);
    std::string text;
    EXPECT_FALSE(bridge->read_reply(&text, 5000)) << "a prompt came";
    EXPECT_TRUE(bridge->close_and_wait(5000));
    EXPECT_LT(now_ms() - started, limit) << "the bridge took too long to end";
    EXPECT_NE(bridge->exit_status(), 0);
    EXPECT_EQ(text.find('<'), std::string::npos) << text;
    std::vector<std::string> l = old_grammar::lines(text);
    ASSERT_FALSE(l.empty());
    EXPECT_NE(l.back().find(c.last_line), std::string::npos) << text;
    for (const char *noise : {"ALSA", "i[", "PLUGIN", "LTDL", "Choose one of the actions"})
      EXPECT_EQ(text.find(noise), std::string::npos) << noise << " in " << text;
    bridge.reset();
    remove(std::string(dir + "/bochsrc").c_str());
  }
}
