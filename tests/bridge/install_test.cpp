// `make install` into a temporary prefix: the files in their places, the
// launcher starting the installed VUM with the installed bridge first on
// PATH, and that bridge booting the installed demo floppy.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_process.hpp"
#include "old_grammar.hpp"
#include "link/debugger_child.hpp"

namespace {

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int run(const std::string &command) {
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = make_work_dir();
    prefix = dir + "/prefix";
    std::string cmd = std::string("'") + VUM_CMAKE_COMMAND + "' --install '" + VUM_BUILD_DIR + "' --prefix '" +
                      prefix + "' > '" + dir + "/install.log' 2>&1";
    ASSERT_EQ(run(cmd), 0) << read_file(dir + "/install.log");
  }
  void TearDown() override { remove_tree(dir); }
  std::string dir, prefix;
};

}  // namespace

TEST_F(InstallTest, EveryFileIsInItsPlace) {
  for (const char *f : {"bin/vum", "bin/vum-sim", "bin/vum-bridge", "bin/vum-bochs", "share/man/man1/vum.1",
                        "share/applications/vum.desktop", "share/doc/vum/vumrc.sample", "share/vum/demo/bochsrc",
                        "share/vum/demo/demo.img", "share/vum/demo/demo.sym", "libexec/vum/vum-bridge-e9.so", "libexec/vum/bridge-bin/bochs", "libexec/vum/sim-bin/bochs"})
    EXPECT_TRUE(exists(prefix + "/" + f)) << f;
  char target[PATH_MAX];
  ssize_t n = readlink((prefix + "/libexec/vum/bridge-bin/bochs").c_str(), target, sizeof target - 1);
  ASSERT_GT(n, 0);
  target[n] = '\0';
  EXPECT_EQ(std::string(target), "../../../bin/vum-bridge") << "relative, so the tree can move";
  EXPECT_EQ(access((prefix + "/bin/vum-bochs").c_str(), X_OK), 0);
  EXPECT_NE(read_file(prefix + "/share/applications/vum.desktop").find("Exec=vum-bochs"), std::string::npos);
  EXPECT_EQ(run("'" + prefix + "/bin/vum-bochs' --help > /dev/null"), 0);
  EXPECT_EQ(run("'" + prefix + "/bin/vum-bochs' -f /nonexistent/bochsrc 2> /dev/null"), 2);
}

TEST_F(InstallTest, TheLauncherStartsVumInFrontOfTheInstalledBridge) {
  ASSERT_NE(getenv("DISPLAY"), nullptr) << "needs an X display";
  pid_t vum = fork();
  if (vum == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl((prefix + "/bin/vum-bochs").c_str(), "vum-bochs", (char *)NULL);
    _exit(127);
  }
  // The launcher has become VUM once VUM's history log exists.
  std::string exe, environ;
  for (int i = 0; i < 500 && !exists(dir + "/__vum.log__"); i++) usleep(10000);
  char path[PATH_MAX];
  ssize_t n = readlink(("/proc/" + std::to_string(vum) + "/exe").c_str(), path, sizeof path - 1);
  if (n > 0) exe.assign(path, size_t(n));
  environ = read_file("/proc/" + std::to_string(vum) + "/environ");
  kill(vum, SIGTERM);
  int status;
  waitpid(vum, &status, 0);
  EXPECT_TRUE(exists(dir + "/__vum.log__")) << "VUM did not start";
  char real_prefix[PATH_MAX];
  ASSERT_NE(realpath(prefix.c_str(), real_prefix), nullptr);
  EXPECT_EQ(exe, std::string(real_prefix) + "/bin/vum");
  std::string path_value;
  std::istringstream entries(environ);
  for (std::string entry; std::getline(entries, entry, '\0');)
    if (entry.compare(0, 5, "PATH=") == 0) path_value = entry.substr(5);
  std::string link_dir = path_value.substr(0, path_value.find(':'));
  char real_link_dir[PATH_MAX];
  ASSERT_NE(realpath(link_dir.c_str(), real_link_dir), nullptr) << link_dir;
  EXPECT_EQ(std::string(real_link_dir), std::string(real_prefix) + "/libexec/vum/bridge-bin");

  // What VUM's " Start Bochs " would start there: the installed bridge,
  // booting the installed demo floppy.
  BridgeProcess bridge(dir, {}, link_dir);
  std::string text;
  ASSERT_TRUE(bridge.read_reply(&text)) << text;
  pid_t emulator = bridge.emulator_pid();
  ASSERT_GT(emulator, 0);
  char bridge_exe[PATH_MAX];
  n = readlink(("/proc/" + std::to_string(bridge.pid()) + "/exe").c_str(), bridge_exe, sizeof bridge_exe - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(bridge_exe, size_t(n)), std::string(real_prefix) + "/bin/vum-bridge");
  // The library that keeps the guest's port 0xE9 bytes apart is the
  // installed one, loaded into the emulator.
  std::string maps = read_file("/proc/" + std::to_string(emulator) + "/maps");
  EXPECT_NE(maps.find(std::string(real_prefix) + "/libexec/vum/vum-bridge-e9.so"), std::string::npos);
  bridge.exchange("pb 0x7ca0");
  std::vector<std::string> stop = old_grammar::lines(bridge.exchange("c").substr(1));
  ASSERT_EQ(stop.size(), 3u);
  unsigned number = 0;
  EXPECT_TRUE(old_grammar::scan_breakpoint_stop(stop[0], &number)) << stop[0];
}

TEST_F(InstallTest, TheSampleConfigurationReadsToItsEnd) {
  // The configuration file's block grammar: text outside blocks is skipped
  // up to a '{'; a block is a keyword and its values; struct and list blocks
  // end with a "}" token standing apart. Every block of the sample must read.
  std::string text = read_file(prefix + "/share/doc/vum/vumrc.sample");
  ASSERT_FALSE(text.empty());
  auto is_number = [](const std::string &t, int base) {
    char *end = nullptr;
    strtoul(t.c_str(), &end, base);
    return end != t.c_str();
  };
  std::vector<std::string> keywords;
  size_t pos = 0;
  while ((pos = text.find('{', pos)) != std::string::npos) {
    std::istringstream block(text.substr(pos + 1));
    std::string keyword;
    ASSERT_TRUE(bool(block >> keyword));
    keywords.push_back(keyword);
    std::string a, b, c;
    if (keyword == "history" || keyword == "tabs") {
      ASSERT_TRUE(block >> a && is_number(a, 10)) << keyword;
    } else if (keyword == "stack" || keyword == "reload") {
      ASSERT_TRUE(block >> a >> b && is_number(a, 10) && is_number(b, 10)) << keyword;
    } else if (keyword == "struct" || keyword == "list") {
      ASSERT_TRUE(block >> a >> b && is_number(b, 16)) << keyword;
      if (keyword == "list") {
        ASSERT_TRUE(block >> c && is_number(c, 10));
      }
      int fields = 0;
      for (std::string name, size; block >> name && name != "}"; fields++)
        ASSERT_TRUE(block >> size && is_number(size, 10)) << a << " " << name;
      EXPECT_GT(fields, 0) << a;
    } else {
      ADD_FAILURE() << "unknown block " << keyword;
    }
    pos++;
  }
  EXPECT_EQ(keywords, std::vector<std::string>({"history", "stack", "tabs", "reload", "struct", "list"}));
}
