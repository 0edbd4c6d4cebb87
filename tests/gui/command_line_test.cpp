// The command line: its options read in this process (a table of cases),
// and the built program run as a child for --help, --version, the errors
// and the toolkit's own options, with no display where none is needed.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "link/debugger_child.hpp"
#include "settings/preferences_page.hpp"
#include "shell/command_line.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "text/settings.hpp"

namespace {

typedef std::vector<std::string> Args;

const char try_help[] = "Try \"vum --help\" for the options.\n";

class CommandLineTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    write("rc", "display_library: x\n");
    write("symbols.map", "00007c00 start\n");
    write("custom.vumrc", "{history 7}\n");
    mkdir("folder", 0755);
  }

  void write(const std::string &name, const std::string &text) { std::ofstream(name) << text; }

  // read_command_line on "vum" and `args`; *left gets what stays in argv.
  CommandLineResult read(const Args &args, std::string *text, Args *left = nullptr) {
    std::vector<std::string> kept = {"vum"};
    kept.insert(kept.end(), args.begin(), args.end());
    std::vector<char *> pointers;
    for (std::string &s : kept) pointers.push_back(&s[0]);
    pointers.push_back(nullptr);
    int argc = int(kept.size());
    char **argv = pointers.data();
    CommandLineResult r = read_command_line(&argc, &argv, text);
    if (left)
      for (int i = 0; i < argc; i++) left->push_back(argv[i]);
    return r;
  }

  struct Run {
    int status = -1;  // the exit status; -1: ended by a signal
    std::string out, err;
  };

  // The built program with `args`, without a display unless one is given.
  Run run_vum(const Args &args) {
    std::vector<std::string> argv = {VUM_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> pointers;
    for (std::string &s : argv) pointers.push_back(&s[0]);
    pointers.push_back(nullptr);
    gchar **env = g_environ_unsetenv(g_get_environ(), "DISPLAY");
    Run r;
    gchar *out = nullptr, *err = nullptr;
    gint wait_status = 0;
    GError *error = nullptr;
    bool spawned = g_spawn_sync(work_dir.c_str(), pointers.data(), env, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                                &err, &wait_status, &error);
    g_strfreev(env);
    EXPECT_TRUE(spawned) << (error ? error->message : "");
    if (error) g_error_free(error);
    if (spawned) {
      r.out = out;
      r.err = err;
      if (WIFEXITED(wait_status)) r.status = WEXITSTATUS(wait_status);
    }
    g_free(out);
    g_free(err);
    return r;
  }

  std::string path(const std::string &name) const { return work_dir + "/" + name; }
};

}  // namespace

TEST_F(CommandLineTest, OptionsAreReadAndFilesChecked) {
  struct Case {
    Args args;
    CommandLineResult result;
    std::string text;  // printed (standard output for success, standard error for a failure)
    std::string bochsrc, symbols, config;
  } cases[] = {
      {{}, CommandLineResult::run, "", "", "", ""},
      {{"--bochsrc", "rc"}, CommandLineResult::run, "", "rc", "", ""},
      {{"-f", "rc"}, CommandLineResult::run, "", "rc", "", ""},
      {{"--bochsrc=" + path("rc")}, CommandLineResult::run, "", path("rc"), "", ""},
      {{"--symbols", "symbols.map", "--config", "custom.vumrc", "--bochsrc", "rc"},
       CommandLineResult::run, "", "rc", "symbols.map", "custom.vumrc"},
      {{"--version"}, CommandLineResult::exit_success, "vum " VUM_VERSION "\n", "", "", ""},
      {{"--frobnicate"}, CommandLineResult::exit_failure,
       std::string("vum: Unknown option --frobnicate\n") + try_help, "", "", ""},
      {{"--bochsrc"}, CommandLineResult::exit_failure,
       std::string("vum: Missing argument for --bochsrc\n") + try_help, "", "", ""},
      {{"--bochsrc", "nothing.rc"}, CommandLineResult::exit_failure,
       std::string("vum: --bochsrc nothing.rc: No such file or directory\n") + try_help, "", "", ""},
      {{"--bochsrc", ""}, CommandLineResult::exit_failure,
       std::string("vum: --bochsrc : No such file or directory\n") + try_help, "", "", ""},
      {{"--config", "folder"}, CommandLineResult::exit_failure,
       std::string("vum: --config folder: Is a directory\n") + try_help, "", "", ""},
      // Every file that cannot be read is named, not only the first.
      {{"--symbols", "none.map", "--config", "none.vumrc"}, CommandLineResult::exit_failure,
       std::string("vum: --symbols none.map: No such file or directory\n"
                   "vum: --config none.vumrc: No such file or directory\n") + try_help, "", "", ""},
      {{"rc"}, CommandLineResult::exit_failure, std::string("vum: Unexpected argument rc\n") + try_help, "", "", ""},
  };
  for (const Case &c : cases) {
    std::string all;
    for (const std::string &a : c.args) all += "[" + a + "]";
    SCOPED_TRACE(all);
    std::string text = "unchanged";
    EXPECT_EQ(read(c.args, &text), c.result);
    EXPECT_EQ(text, c.text);
    if (c.result != CommandLineResult::run) continue;
    EXPECT_EQ(command_line().bochsrc, c.bochsrc);
    EXPECT_EQ(command_line().symbols, c.symbols);
    EXPECT_EQ(command_line().config, c.config);
  }
}

TEST_F(CommandLineTest, TheToolkitsOptionsAreTakenOutForIt) {
  std::string text;
  Args left;
  ASSERT_EQ(read({"--name=vumtest", "--bochsrc", "rc", "--sync"}, &text, &left), CommandLineResult::run) << text;
  EXPECT_EQ(left, Args{"vum"});
  EXPECT_EQ(command_line().bochsrc, "rc");
  build_window();
  EXPECT_EQ(main_window_title(), "VUM -- rc");
}

TEST_F(CommandLineTest, ConfigReplacesTheVumrcOfTheCurrentDirectory) {
  write(".vumrc", "{history 3}\n");
  std::string text;
  ASSERT_EQ(read({"--config", path("custom.vumrc")}, &text), CommandLineResult::run) << text;
  build_window();
  EXPECT_EQ(settings.history_length, 7u);
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(preferences_page().history_length_entry)), "7");
}

TEST_F(CommandLineTest, AConfigThatWentAwayIsNamedAsTheVumrcWas) {
  std::string text;
  ASSERT_EQ(read({"--config", "custom.vumrc"}, &text), CommandLineResult::run);
  ASSERT_EQ(unlink("custom.vumrc"), 0);
  write(".vumrc", "{history 3}\n");
  build_window();
  EXPECT_NE(printed.find("VUM: custom.vumrc file not found, using defaults\n"), std::string::npos) << printed;
  EXPECT_EQ(settings.history_length, 50u) << "./.vumrc is not read in its place";
}

TEST_F(CommandLineTest, SymbolsGivenAreHandedToTheLoaderOnceTheWindowIsBuilt) {
  std::string text;
  ASSERT_EQ(read({"--symbols", path("symbols.map")}, &text), CommandLineResult::run);
  EXPECT_EQ(main_window().symbols_file, "");
  build_window();
  EXPECT_EQ(main_window().symbols_file, path("symbols.map"));
}

// The debugger is started as "bochs -q -f FILE"; the file's name is one
// word for the shell, whatever it holds.
TEST_F(CommandLineTest, BochsrcReachesTheDebuggerAsOneWord) {
  std::string odd = "it's a \"bochsrc\"; touch pwned $(touch pwned2) `touch pwned3` \\ $HOME.rc";
  write(odd, "display_library: x\n");
  std::string bin = path("fakebin");
  mkdir(bin.c_str(), 0755);
  std::ofstream(bin + "/bochs") << "#!/bin/sh\n"
                                << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << path("args") << "\"\n"
                                << "exec '" << VUM_SIM_PROGRAM << "' -q\n";
  chmod((bin + "/bochs").c_str(), 0755);
  setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);

  std::string text;
  ASSERT_EQ(read({"--bochsrc", odd}, &text), CommandLineResult::run) << text;
  build_window();
  EXPECT_EQ(main_window_title(), "VUM -- " + odd);
  start_bochs();
  EXPECT_EQ(read_file(path("args")), "-q\n-f\n" + odd + "\n");
  for (const char *name : {"pwned", "pwned2", "pwned3"}) EXPECT_NE(access(name, F_OK), 0) << name;
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch"}));
  click(main_window().start_button);

  // Without --bochsrc the debugger is started as before.
  command_line().bochsrc.clear();
  set_bochsrc("");
  start_bochs();
  EXPECT_EQ(read_file(path("args")), "-q\n");
}

TEST_F(CommandLineTest, HelpAndVersionNeedNoDisplay) {
  Run help = run_vum({"--help"});
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.err, "");
  for (const char *text : {"Usage:", "vum [OPTION", "-f, --bochsrc=FILE", "--symbols=FILE", "--config=FILE",
                           "--version", "--help-gtk"})
    EXPECT_NE(help.out.find(text), std::string::npos) << text << " in\n" << help.out;

  Run version = run_vum({"--version"});
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, "vum " VUM_VERSION "\n");
  EXPECT_EQ(version.err, "");
}

TEST_F(CommandLineTest, ErrorsEndTheProgramBeforeAnyWindow) {
  // Without a display, a program that went on to open its window would
  // fail later, and say "cannot open display" instead.
  struct Case {
    Args args;
    std::string err;
  } cases[] = {
      {{"--frobnicate"}, "vum: Unknown option --frobnicate\n"},
      {{"--bochsrc", "nothing.rc", "--symbols", "symbols.map"}, "vum: --bochsrc nothing.rc: No such file or directory\n"},
      {{"--symbols", "folder"}, "vum: --symbols folder: Is a directory\n"},
      {{"--config"}, "vum: Missing argument for --config\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.err);
    Run r = run_vum(c.args);
    EXPECT_EQ(r.status, command_line_error_status);
    EXPECT_EQ(r.err, c.err + try_help);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_NE(access("config/vum/window", F_OK), 0) << "no window, so nothing to remember";
}

TEST_F(CommandLineTest, TheToolkitsOwnOptionsReachIt) {
  // --display is the toolkit's: taken for it, and the display it names is
  // the one tried.
  Run r = run_vum({"--display=:bogus-display", "--config", "custom.vumrc"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("cannot open display: :bogus-display"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Unknown option"), std::string::npos) << r.err;
}

// The whole program with a display named on its command line: it reads the
// configuration file given, and a SIGTERM ends it as Quit does, saving the
// window for the next start.
TEST_F(CommandLineTest, TheProgramRunsOnTheDisplayGivenAndRemembersItsWindow) {
  const char *display = getenv("DISPLAY");
  ASSERT_NE(display, nullptr) << "run under a display (xvfb-run)";
  write("custom.vumrc", "{colour 1}\n");
  std::string command = std::string("exec '") + VUM_PROGRAM + "' --display='" + display +
                        "' --config custom.vumrc > out 2> err";
  const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  gchar **env = g_environ_unsetenv(g_get_environ(), "DISPLAY");
  GPid pid = 0;
  GError *error = nullptr;
  ASSERT_TRUE(g_spawn_async(work_dir.c_str(), const_cast<gchar **>(argv), env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                            nullptr, &pid, &error));
  g_strfreev(env);
  const std::string unknown = "VUM: Unknown block type 'colour' in custom.vumrc\n";
  bool started = pump_until([&] { return read_file(path("out")).find(unknown) != std::string::npos; });
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(started) << read_file(path("out")) << read_file(path("err"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << read_file(path("err"));
  EXPECT_NE(read_file(path("out")).find("VUM: No window settings in " + path("config/vum/window") +
                                        " yet, using defaults\n"),
            std::string::npos);
  std::string saved = read_file(path("config/vum/window"));
  EXPECT_NE(saved.find("[Window]\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("state-panel=false\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("page=Breakpoints\n"), std::string::npos) << saved;
}
