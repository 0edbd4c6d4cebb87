// The translation on bytes captured from Bochs 2.7 (the dialect catalogue):
// each exchange is fed to a Session as the emulator wrote it, split at every
// possible point and byte by byte, and what VUM would read is compared with
// the old dialect's text, as the simulated PC writes it where it can.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialect.hpp"
#include "machine.hpp"
#include "points.hpp"
#include "replies.hpp"
#include "session.hpp"

namespace {

using bridge::Session;
typedef std::vector<std::string> Lines;

const char kStartup[] =
    "========================================================================\n"
    "                        Bochs x86 Emulator 2.7\n"
    "              Built from SVN snapshot on August  1, 2021\n"
    "                Timestamp: Sun Aug  1 10:07:00 CEST 2021\n"
    "========================================================================\n"
    "Next at t=0\n"
    "(0) [0x0000fffffff0] f000:fff0 (unk. ctxt): jmpf 0xf000:e05b          ; ea5be000f0\n"
    "<bochs:1> ";

// A session past Bochs's first prompt, with VUM's first prompt taken.
struct Started {
  Session s;
  Started() {
    s.from_emulator(kStartup);
    s.to_front().clear();
  }
};

// One old command, what the bridge must send for it, what Bochs 2.7 wrote
// back (echo and prompt included), and what VUM must read.
struct Exchange {
  const char *name;
  std::string command;
  Lines sent;         // lines to Bochs, in order
  std::string reply;  // everything Bochs wrote after the first line was sent
  std::string old;    // the old reply, prompt included
};

// Feeds `reply` in the given pieces and returns what VUM got. Each line sent
// to Bochs is checked against `sent`, in order.
std::string run(Session &s, const Exchange &e, const std::vector<size_t> &cuts) {
  s.from_front(e.command + "\n");
  std::string sent = s.to_emulator();
  s.to_emulator().clear();
  size_t from = 0;
  for (size_t cut : cuts) {
    s.from_emulator(std::string_view(e.reply).substr(from, cut - from));
    sent += s.to_emulator();
    s.to_emulator().clear();
    from = cut;
  }
  s.from_emulator(std::string_view(e.reply).substr(from));
  sent += s.to_emulator();
  std::string expected_sent;
  for (const std::string &l : e.sent) expected_sent += l + "\n";
  EXPECT_EQ(sent, expected_sent) << e.name;
  return s.to_front();
}

void check_every_split(const Exchange &e, const std::vector<Exchange> &before = {}) {
  auto fresh = [&](Started &st) {
    for (const Exchange &b : before) {
      run(st.s, b, {});
      st.s.to_front().clear();
    }
  };
  {
    Started st;
    fresh(st);
    EXPECT_EQ(run(st.s, e, {}), e.old) << e.name << ": whole";
  }
  for (size_t cut = 1; cut < e.reply.size(); cut++) {
    Started st;
    fresh(st);
    EXPECT_EQ(run(st.s, e, {cut}), e.old) << e.name << ": split at " << cut;
  }
  std::vector<size_t> every;
  for (size_t i = 1; i < e.reply.size(); i++) every.push_back(i);
  Started st;
  fresh(st);
  EXPECT_EQ(run(st.s, e, every), e.old) << e.name << ": byte by byte";
}

// The old instruction line as the simulated PC writes it.
std::string old_line(const char *cpu_addr_loc, const char *text, const char *bytes) {
  char buf[200];
  snprintf(buf, sizeof buf, "%s (unk. ctxt): %-24s ; %s\n", cpu_addr_loc, text, bytes);
  return buf;
}

}  // namespace

TEST(BridgeTranslate, StartUpTextEndsWithTheFirstPrompt) {
  Session s;
  for (char c : std::string(kStartup)) s.from_emulator(std::string(1, c));
  const std::string &out = s.to_front();
  ASSERT_GE(out.size(), 10u);
  EXPECT_EQ(out.substr(out.size() - 10), "<bochs:1> ");
  EXPECT_EQ(out.find('<'), out.size() - 10) << "no '<' before the prompt";
  EXPECT_NE(out.find(old_line("(0) [0xfffffff0] f000:fff0", "jmp far 0xf000:e05b", "ea5be000f0")),
            std::string::npos);
}

TEST(BridgeTranslate, StepsAndStopsReadAsTheOldDialect) {
  const std::vector<Exchange> table = {
      {"step, real mode", "s", {"s"},
       "s\nNext at t=12936049\n(0) [0x000000007c01] 0000:7c01 (unk. ctxt): xor ax, ax                ; 31c0\n<bochs:10> ",
       "Next at t=12936049\n" + old_line("(0) [0x00007c01] 0000:7c01", "xor ax, ax", "31c0") + "<bochs:2> "},
      {"step at the mode switch", "s", {"s"},
       "s\nNext at t=12936083\n(0) [0x000000007c3b] 0000:0000000000007c3b (unk. ctxt): jmpf 0x0008:7c42          ; ea427c0800\n<bochs:28> ",
       "Next at t=12936083\n" + old_line("(0) [0x00007c3b] 0000:00007c3b", "jmp far 0x0008:7c42", "ea427c0800") +
           "<bochs:2> "},
      {"step, protected mode, long text", "s", {"s"},
       "s\nNext at t=12936105\n(0) [0x000000007c64] 0008:0000000000007c64 (unk. ctxt): mov ebx, dword ptr ds:0x00000600 ; 8b1d00060000\n<bochs:61> ",
       "Next at t=12936105\n" +
           old_line("(0) [0x00007c64] 0008:00007c64", "mov ebx, dword ptr ds:0x00000600", "8b1d00060000") +
           "<bochs:2> "},
      {"step while tracing: the trace line goes", "s", {"s"},
       "s\n(0).[12936065] [0x000000007c0a] 0000:7c0a (unk. ctxt): inc ax                    ; 40\nNext at t=12936066\n"
       "(0) [0x000000007c0b] 0000:7c0b (unk. ctxt): call .+3  (0x00007c11)    ; e80300\n<bochs:48> ",
       "Next at t=12936066\n" + old_line("(0) [0x00007c0b] 0000:7c0b", "call .+3  (0x00007c11)", "e80300") +
           "<bochs:2> "},
      {"step onto a watched access: the report goes", "s", {"s"},
       "s\n(0) Caught read watch point at 0x000000007bfe\nNext at t=12943929\n"
       "(0) [0x000000007c18] 0000:7c18 (unk. ctxt): loop .-5  (0x00007c15)    ; e2fb\n<bochs:19> ",
       "Next at t=12943929\n" + old_line("(0) [0x00007c18] 0000:7c18", "loop .-5  (0x00007c15)", "e2fb") +
           "<bochs:2> "},
      {"rep string instruction", "s", {"s"},
       "s\nNext at t=12936062\n(0) [0x000000007c1b] 0000:7c1b (unk. ctxt): rep movsb byte ptr es:[di], byte ptr ds:[si] ; f3a4\n<bochs:10> ",
       "Next at t=12936062\n" +
           old_line("(0) [0x00007c1b] 0000:7c1b", "rep: movsb byte ptr es:[di], byte ptr ds:[si]", "f3a4") +
           "<bochs:2> "},
      {"far call", "s", {"s"},
       "s\nNext at t=12936069\n(0) [0x000000007c22] 0000:7c22 (unk. ctxt): callf 0x0000:7c41         ; 9a417c0000\n<bochs:17> ",
       "Next at t=12936069\n" + old_line("(0) [0x00007c22] 0000:7c22", "call far 0x0000:7c41", "9a417c0000") +
           "<bochs:2> "},
      {"go to a physical breakpoint", "c", {"c"},
       "c\n(0) Breakpoint 1, 0x0000000000007c00 in ?? ()\nNext at t=12936048\n"
       "(0) [0x000000007c00] 0000:7c00 (unk. ctxt): cli                       ; fa\n<bochs:9> ",
       sim::reply::breakpoint_stop(1, 0x7c00) + "Next at t=12936048\n" +
           old_line("(0) [0x00007c00] 0000:7c00", "cli", "fa") + "<bochs:2> "},
      {"go to a virtual breakpoint, real mode", "c", {"c"},
       "c\n(0) Breakpoint 7, in 0000:7c15 (0x00007c15)\nNext at t=12936057\n"
       "(0) [0x000000007c15] 0000:7c15 (unk. ctxt): ret                       ; c3\n<bochs:27> ",
       sim::reply::breakpoint_stop(7, 0x7c15) + "Next at t=12936057\n" +
           old_line("(0) [0x00007c15] 0000:7c15", "ret", "c3") + "<bochs:2> "},
      {"go to a virtual breakpoint, protected mode", "c", {"c"},
       "c\n(0) Breakpoint 4, in 0008:00007c6c (0x00007c6c)\nNext at t=12936095\n"
       "(0) [0x000000007c6c] 0008:0000000000007c6c (unk. ctxt): inc edx                   ; 42\n<bochs:49> ",
       sim::reply::breakpoint_stop(4, 0x7c6c) + "Next at t=12936095\n" +
           old_line("(0) [0x00007c6c] 0008:00007c6c", "inc edx", "42") + "<bochs:2> "},
      {"go to a write watchpoint", "c", {"c"},
       "c\n(0) Caught write watch point at 0x000000000500\nNext at t=12936075\n"
       "(0) [0x000000007c15] 0000:7c15 (unk. ctxt): ret                       ; c3\n<bochs:59> ",
       sim::reply::watch_stop(true, 0x500) + "Next at t=12936075\n" +
           old_line("(0) [0x00007c15] 0000:7c15", "ret", "c3") + "<bochs:2> "},
      {"go, stopped by SIGINT", "c", {"c"},
       "c\nNext at t=79545035\n(0) [0x000000007c0a] 0000:7c0a (unk. ctxt): inc ax                    ; 40\n<bochs:164> ",
       "Next at t=79545035\n" + old_line("(0) [0x00007c0a] 0000:7c0a", "inc ax", "40") + "<bochs:2> "},
      {"go while tracing", "c", {"c"},
       "c\n(0).[12936067] [0x000000007c11] 0000:7c11 (unk. ctxt): inc bx                    ; 43\n"
       "CPU 0: Interrupt 0x12 occurred (error_code=0x0000)\n"
       "(0).[12936068] [0x000000007c12] 0000:7c12 (unk. ctxt): mov word ptr ds:0x0500, ax ; a30005\n"
       "(0) Breakpoint 11, 0x0000000000007c15 in ?? ()\nNext at t=12936069\n"
       "(0) [0x000000007c15] 0000:7c15 (unk. ctxt): ret                       ; c3\n<bochs:51> ",
       old_line("(0) [0x00007c11] 0000:7c11", "inc bx", "43") +
           old_line("(0) [0x00007c12] 0000:7c12", "mov word ptr ds:0x0500, ax", "a30005") +
           sim::reply::breakpoint_stop(11, 0x7c15) + "Next at t=12936069\n" +
           old_line("(0) [0x00007c15] 0000:7c15", "ret", "c3") + "<bochs:2> "},
      {"tracing on", "trace-on", {"trace on"}, "trace on\nTracing enabled for CPU0\n<bochs:47> ",
       sim::reply::tracing(true) + "<bochs:2> "},
      {"tracing off", "trace-off", {"trace off"}, "trace off\nTracing disabled for CPU0\n<bochs:54> ",
       sim::reply::tracing(false) + "<bochs:2> "},
      {"add a breakpoint", "pb 0x7C00", {"pb 0x7c00"}, "pb 0x7c00\n<bochs:8> ", "<bochs:2> "},
      {"a typed hex address without 0x", "pb 7c00", {"pb 0x7c00"}, "pb 0x7c00\n<bochs:8> ", "<bochs:2> "},
      {"a typed segment:offset", "vb 8:7c6c", {"vb 0x8:0x7c6c"}, "vb 0x8:0x7c6c\n<bochs:8> ", "<bochs:2> "},
      {"delete an unknown breakpoint", "d 99", {"d 99"}, "d 99\nError: breakpoint 99 not found.\n<bochs:33> ",
       "Error: breakpoint 99 not found.\n<bochs:2> "},
      {"an empty line does not repeat", "", {" "}, " \n<bochs:9> ", "<bochs:2> "},
      {"a tab is a blank", "pb\t0x7c00", {"pb 0x7c00"}, "pb 0x7c00\n<bochs:12> ", "<bochs:2> "},
  };
  for (const Exchange &e : table) check_every_split(e);
}

TEST(BridgeTranslate, TheEchoOfALineTypedDuringARunIsDropped) {
  // A line sent while "c" runs waits in the bridge; Bochs gets it after the
  // stop's prompt, and its echo follows that prompt on the same line.
  Started st;
  st.s.from_front("c\n");
  EXPECT_EQ(st.s.to_emulator(), "c\n");
  st.s.to_emulator().clear();
  st.s.from_emulator("c\n");
  EXPECT_TRUE(st.s.running());
  st.s.from_front("s\n");
  EXPECT_EQ(st.s.to_emulator(), "") << "nothing goes to Bochs before its prompt";
  st.s.from_emulator("Next at t=60197746\n(0) [0x000000007c0e] 0000:7c0e (unk. ctxt): jmp .-6  (0x00007c0a)     ; ebfa\n<bochs:8> ");
  EXPECT_EQ(st.s.to_emulator(), "s\n");
  st.s.from_emulator("s\nNext at t=60197747\n(0) [0x000000007c0a] 0000:7c0a (unk. ctxt): inc ax                    ; 40\n<bochs:9> ");
  EXPECT_EQ(st.s.to_front(), "Next at t=60197746\n" +
                                 old_line("(0) [0x00007c0e] 0000:7c0e", "jmp .-6  (0x00007c0a)", "ebfa") +
                                 "<bochs:2> Next at t=60197747\n" +
                                 old_line("(0) [0x00007c0a] 0000:7c0a", "inc ax", "40") + "<bochs:3> ");
}

TEST(BridgeTranslate, RunsHandTheirLinesOverAsTheyComeAndStepsAtThePrompt) {
  Started st;
  st.s.from_front("trace-on\n");
  st.s.from_emulator("trace on\nTracing enabled for CPU0\n<bochs:2> ");
  st.s.to_front().clear();
  st.s.from_front("c\n");
  st.s.from_emulator("c\n(0).[5] [0x0000000fe067] f000:e067 (unk. ctxt): out 0xd4, al              ; e6d4\n(0).[6] [0x");
  EXPECT_EQ(st.s.to_front(), old_line("(0) [0x000fe067] f000:e067", "out 0xd4, al", "e6d4"));
  st.s.to_front().clear();
  st.s.from_emulator("0000000fe069] f000:e069 (unk. ctxt): mov al, 0x0f              ; b00f\nNext at t=7\n");
  EXPECT_EQ(st.s.to_front(), old_line("(0) [0x000fe069] f000:e069", "mov al, 0x0f", "b00f") + "Next at t=7\n");
  st.s.from_emulator("(0) [0x000000007c0a] 0000:7c0a (unk. ctxt): inc ax                    ; 40\n<bochs:9> ");
  st.s.to_front().clear();
  st.s.from_front("s\n");
  st.s.from_emulator("s\nNext at t=8\n");
  EXPECT_EQ(st.s.to_front(), "") << "a step's reply is handed over whole";
}

TEST(BridgeTranslate, BreakpointListIsSortedByNumberInTheOldLayout) {
  Exchange e{"info break, all kinds", "info break", {"info break"},
             "info break\nNum Type           Disp Enb Address\n"
             "  5 vbreakpoint    keep y   0x0000:0000000000007c11 \n"
             "  7 vbreakpoint    keep y   0x0000:0000000000007c15 \n"
             "  4 lbreakpoint    keep y   0x0000000000007c0b \n"
             "  8 lbreakpoint    keep y   0x0000000000007c0e \n"
             "  1 pbreakpoint    keep y   0x000000007c00 \n"
             "  6 pbreakpoint    keep y   0x000000007c10 \n"
             "  9 pbreakpoint    keep y   0x000000007c12 \n"
             "<bochs:26> ",
             ""};
  std::vector<sim::Breakpoint> points = {
      {1, sim::BreakKind::Physical, 0, 0x7c00, 0x7c00}, {4, sim::BreakKind::Linear, 0, 0x7c0b, 0x7c0b},
      {5, sim::BreakKind::Virtual, 0, 0x7c11, 0x7c11},  {6, sim::BreakKind::Physical, 0, 0x7c10, 0x7c10},
      {7, sim::BreakKind::Virtual, 0, 0x7c15, 0x7c15},  {8, sim::BreakKind::Linear, 0, 0x7c0e, 0x7c0e},
      {9, sim::BreakKind::Physical, 0, 0x7c12, 0x7c12},
  };
  e.old = sim::reply::breakpoint_list(points) + "<bochs:2> ";
  check_every_split(e);

  Exchange empty{"info break, none", "info break", {"info break"},
                 "info break\nNum Type           Disp Enb Address\n<bochs:42> ",
                 sim::reply::breakpoint_list({}) + "<bochs:2> "};
  check_every_split(empty);
}

TEST(BridgeTranslate, WatchListUsesTheOldWordsAndTheKindsBochsReported) {
  // The table learns from the inserts; a write watchpoint beyond memory,
  // which 2.7 lists as "rd" after the writes, is a write.
  std::vector<Exchange> inserts;
  const struct {
    const char *kind, *address, *echo_addr;
  } adds[] = {{"read", "0x7bfe", "000000007bfe"}, {"read", "0x600", "000000000600"},
              {"read", "0x2000000", "000002000000"}, {"write", "0x500", "000000000500"},
              {"write", "0x600", "000000000600"}, {"write", "0x2000000", "000002000000"}};
  for (const auto &a : adds) {
    std::string cmd = std::string("watch ") + a.kind + " " + a.address;
    inserts.push_back(Exchange{"insert", cmd, {cmd},
                               cmd + "\n" + a.kind + " watchpoint at 0x" + a.echo_addr + " len=1 inserted\n<bochs:5> ",
                               ""});
  }
  Exchange list{"watch", "watch", {"watch"},
                "watch\n"
                "rd 0x000000007bfe len=1\t\t(7c0e)\n"
                "rd 0x000000000600 len=1\t\t(0000)\n"
                "rd 0x000002000000 len=1\t\t(read error)\n"
                "wr 0x000000000500 len=1\t\t(0004)\n"
                "wr 0x000000000600 len=1\t\t(0000)\n"
                "rd 0x000002000000 len=1\t\t(read error)\n"
                "<bochs:66> ",
                "read 0x00007bfe (7c0e)\n"
                "read 0x00000600 (0000)\n"
                "read 0x02000000 (ffff)\n"
                "write 0x00000500 (0004)\n"
                "write 0x00000600 (0000)\n"
                "write 0x02000000 (ffff)\n"
                "<bochs:8> "};
  check_every_split(list, inserts);

  // The old form for an odd address, as the simulated PC writes it.
  sim::Memory mem;
  mem.write8(0x7bfe, 0x0e);
  mem.write8(0x7bff, 0x7c);
  Exchange one{"watch, one read", "watch", {"watch"}, "watch\nrd 0x000000007bfe len=1\t\t(7c0e)\n<bochs:57> ",
               sim::reply::watch_list({{false, 0x7bfe}}, mem) + "<bochs:3> "};
  check_every_split(one, {inserts[0]});
}

TEST(BridgeTranslate, RemovingOneWatchpointKeepsTheOtherKindAndTheOrder) {
  Started st;
  auto insert = [&](const char *kind, const char *addr) {
    st.s.from_front(std::string("watch ") + kind + " " + addr + "\n");
    st.s.from_emulator(std::string("watch ") + kind + " " + addr + "\n" + kind + " watchpoint at 0x" + addr + " len=1 inserted\n<bochs:3> ");
  };
  insert("read", "600");
  insert("write", "500");
  insert("write", "600");
  insert("write", "700");
  st.s.to_emulator().clear();
  st.s.to_front().clear();

  // A lone read at 0x600 shares its address with a write: all go, and the
  // others come back in their order.
  st.s.from_front("unwatch read 0x600\n");
  const char *expected[] = {"unwatch", "watch write 0x500", "watch write 0x600", "watch write 0x700"};
  const char *replies[] = {"unwatch\nAll watchpoints removed\n<bochs:9> ",
                           "watch write 0x500\nwrite watchpoint at 0x000000000500 len=1 inserted\n<bochs:10> ",
                           "watch write 0x600\nwrite watchpoint at 0x000000000600 len=1 inserted\n<bochs:11> ",
                           "watch write 0x700\nwrite watchpoint at 0x000000000700 len=1 inserted\n<bochs:12> "};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(st.s.to_emulator(), std::string(expected[i]) + "\n");
    st.s.to_emulator().clear();
    EXPECT_EQ(st.s.to_front(), "") << "no prompt before the last line's";
    st.s.from_emulator(replies[i]);
  }
  EXPECT_EQ(st.s.to_front(), "<bochs:6> ");
  ASSERT_EQ(st.s.watches().reads().size(), 0u);
  ASSERT_EQ(st.s.watches().writes().size(), 3u);
  EXPECT_EQ(st.s.watches().writes()[1].address, 0x600u);

  // A write alone at its address: one "unwatch ADDR".
  st.s.from_front("unwatch write 0x700\n");
  EXPECT_EQ(st.s.to_emulator(), "unwatch 0x700\n");
  st.s.to_emulator().clear();
  st.s.from_emulator("unwatch 0x700\nwrite watchpoint at 0x000000000700 removed\n<bochs:13> ");
  EXPECT_EQ(st.s.watches().writes().size(), 2u);

  // Nothing at the address: Bochs is not asked to remove anything.
  st.s.from_front("unwatch read 0x900\n");
  EXPECT_EQ(st.s.to_emulator(), " \n");
}

TEST(BridgeTranslate, AWatchStopNamesTheWatchedAddressTheAccessOverlapped) {
  bridge::WatchTable t;
  t.learn("write watchpoint at 0x000000000502 len=1 inserted");
  t.learn("write watchpoint at 0x000000000508 len=1 inserted");
  t.learn("read watchpoint at 0x000000000600 len=1 inserted");
  t.learn("read watchpoint at 0x000000000700 len=4 inserted");
  const struct {
    bool write;
    uint64_t access, shown;
  } cases[] = {
      {true, 0x502, 0x502},   // the watched byte itself
      {true, 0x500, 0x502},   // a 4-byte write at 0x500
      {true, 0x506, 0x508},   // the lowest watched address above
      {true, 0x400, 0x400},   // nothing near: as reported
      {false, 0x500, 0x500},  // the kind counts: no read watchpoint near
      {false, 0x702, 0x700},  // inside a 4-byte watchpoint
      {false, 0x5f8, 0x600},
  };
  for (const auto &c : cases) EXPECT_EQ(t.hit_address(c.write, c.access), c.shown) << std::hex << c.access;

  bridge::WatchTable table;
  table.learn("write watchpoint at 0x000000000502 len=1 inserted");
  std::string old = sim::reply::watch_stop(true, 0x502);
  old.pop_back();  // its newline
  EXPECT_EQ(bridge::translate_line("(0) Caught write watch point at 0x000000000500", table), old);
}

TEST(BridgeTranslate, RegisterDumpIsRebuiltExactlyAsTheOldDump) {
  const std::string real_mode =
      "r;sreg;creg;dreg\nCPU0:\nrax: 00000000_00000004\nrbx: 00000000_00000004\nrcx: 00000000_00090000\n"
      "rdx: 00000000_00000000\nrsp: 00000000_00007c00\nrbp: 00000000_00000000\nrsi: 00000000_000e0000\n"
      "rdi: 00000000_0000ffac\nr8 : 00000000_00000000\nr9 : 00000000_00000000\nr10: 00000000_00000000\n"
      "r11: 00000000_00000000\nr12: 00000000_00000000\nr13: 00000000_00000000\nr14: 00000000_00000000\n"
      "r15: 00000000_00000000\nrip: 00000000_00007c0e\n"
      "eflags 0x00000002: id vip vif ac vm rf nt IOPL=0 of df if tf sf zf af pf cf\n"
      "es:0x0000, dh=0x00009300, dl=0x0000ffff, valid=1\n"
      "\tData segment, base=0x00000000, limit=0x0000ffff, Read/Write, Accessed\n"
      "cs:0x0000, dh=0x00009300, dl=0x0000ffff, valid=1\n"
      "\tData segment, base=0x00000000, limit=0x0000ffff, Read/Write, Accessed\n"
      "ss:0x0000, dh=0x00009300, dl=0x0000ffff, valid=7\n"
      "\tData segment, base=0x00000000, limit=0x0000ffff, Read/Write, Accessed\n"
      "ds:0x0000, dh=0x00009300, dl=0x0000ffff, valid=7\n"
      "\tData segment, base=0x00000000, limit=0x0000ffff, Read/Write, Accessed\n"
      "fs:0x0000, dh=0x00009300, dl=0x0000ffff, valid=1\n"
      "\tData segment, base=0x00000000, limit=0x0000ffff, Read/Write, Accessed\n"
      "gs:0x0000, dh=0x00009300, dl=0x0000ffff, valid=1\n"
      "\tData segment, base=0x00000000, limit=0x0000ffff, Read/Write, Accessed\n"
      "ldtr:0x0000, dh=0x00008200, dl=0x0000ffff, valid=1\ntr:0x0000, dh=0x00008b00, dl=0x0000ffff, valid=1\n"
      "gdtr:base=0x00000000000f9ad7, limit=0x30\nidtr:base=0x0000000000000000, limit=0x3ff\n"
      "CR0=0x60000010: pg CD NW ac wp ne ET ts em mp pe\nCR2=page fault laddr=0x0000000000000000\n"
      "CR3=0x000000000000\n    PCD=page-level cache disable=0\n    PWT=page-level write-through=0\n"
      "CR4=0x00000000: pks cet pke smap smep keylock osxsave pcid fsgsbase smx vmx la57 umip osxmmexcpt osfxsr pce pge mce pae pse de tsd pvi vme\n"
      "CR8: 0x0\nEFER=0x00000000: ffxsr nxe lma lme sce\n"
      "DR0=0x0000000000000000\nDR1=0x0000000000000000\nDR2=0x0000000000000000\nDR3=0x0000000000000000\n"
      "DR6=0xffff0ff0: bt bs bd b3 b2 b1 b0\n"
      "DR7=0x00000400: DR3=Code-Byte DR2=Code-Byte DR1=Code-Byte DR0=Code-Byte gd | ge le | g3 l3 g2 l2 g1 l1 g0 l0\n"
      "<bochs:81> ";
  sim::Cpu cpu;
  cpu.regs[sim::EAX] = 4;
  cpu.regs[sim::EBX] = 4;
  cpu.regs[sim::ECX] = 0x90000;
  cpu.regs[sim::ESP] = 0x7c00;
  cpu.regs[sim::ESI] = 0xe0000;
  cpu.regs[sim::EDI] = 0xffac;
  cpu.eip = 0x7c0e;
  cpu.eflags = 2;
  for (int i : {sim::ES, sim::CS, sim::SS, sim::DS, sim::FS, sim::GS}) cpu.seg[i].set_descriptor(0xffff, 0x9300);
  cpu.seg[sim::LDTR].set_descriptor(0xffff, 0x8200);
  cpu.seg[sim::TR].set_descriptor(0xffff, 0x8b00);
  cpu.gdtr_base = 0xf9ad7;
  cpu.gdtr_limit = 0x30;
  cpu.idtr_limit = 0x3ff;
  cpu.cr[0] = 0x60000010;
  cpu.dr[6] = 0xffff0ff0;
  cpu.dr[7] = 0x400;
  check_every_split(Exchange{"dump_cpu, real mode", "dump_cpu", {"r;sreg;creg;dreg"}, real_mode,
                             sim::reply::dump_cpu(cpu) + "<bochs:2> "});

  // 63 values under the old scan.
  std::string text = " " + bridge::rebuild_registers(real_mode);
  unsigned v[63];
  int n = sscanf(text.c_str(),
                 " eax:%x\nebx:%x\necx:%x\nedx:%x\nebp:%x\nesi:%x\nedi:%x\nesp:%x\neflags:%x\neip:%x\n"
                 "cs:s=%x, dl=%x, dh=%x, valid=%u\nss:s=%x, dl=%x, dh=%x, valid=%u\nds:s=%x, dl=%x, dh=%x, valid=%u\n"
                 "es:s=%x, dl=%x, dh=%x, valid=%u\nfs:s=%x, dl=%x, dh=%x, valid=%u\ngs:s=%x, dl=%x, dh=%x, valid=%u\n"
                 "ldtr:s=%x, dl=%x, dh=%x, valid=%u\ntr:s=%x, dl=%x, dh=%x, valid=%u\ngdtr:base=%x, limit=%x\n"
                 "idtr:base=%x, limit=%x\ndr0:%x\ndr1:%x\ndr2:%x\ndr3:%x\ndr6:%x\ndr7:%x\ntr3:%x\ntr4:%x\ntr5:%x\n"
                 "tr6:%x\ntr7:%x\ncr0:%x\ncr1:%x\ncr2:%x\ncr3:%x\ncr4:%x\ninhibit_mask:%u\ndone\n",
                 &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13],
                 &v[14], &v[15], &v[16], &v[17], &v[18], &v[19], &v[20], &v[21], &v[22], &v[23], &v[24], &v[25],
                 &v[26], &v[27], &v[28], &v[29], &v[30], &v[31], &v[32], &v[33], &v[34], &v[35], &v[36], &v[37],
                 &v[38], &v[39], &v[40], &v[41], &v[42], &v[43], &v[44], &v[45], &v[46], &v[47], &v[48], &v[49],
                 &v[50], &v[51], &v[52], &v[53], &v[54], &v[55], &v[56], &v[57], &v[58], &v[59], &v[60], &v[61],
                 &v[62]);
  EXPECT_EQ(n, 63);
}

TEST(BridgeTranslate, ARegisterDumpCutShortStopsAtTheFirstMissingValue) {
  // Without the sreg part the old dump ends after eip, so that VUM's scan
  // keeps its earlier segment values instead of taking invented ones.
  std::string out = bridge::rebuild_registers(
      "rax: 00000000_00000001\nrbx: 00000000_00000002\nrcx: 00000000_00000003\nrdx: 00000000_00000004\n"
      "rsp: 00000000_00000005\nrbp: 00000000_00000006\nrsi: 00000000_00000007\nrdi: 00000000_00000008\n"
      "rip: 12345678_00000009\neflags 0x00000202: IF\n");
  EXPECT_EQ(out,
            "eax:0x00000001\nebx:0x00000002\necx:0x00000003\nedx:0x00000004\nebp:0x00000006\nesi:0x00000007\n"
            "edi:0x00000008\nesp:0x00000005\neflags:0x00000202\neip:0x00000009\n");
}

TEST(BridgeTranslate, ExamineRepliesTakeTheOldLayout) {
  sim::Memory mem;
  const uint8_t code[] = {0xfa, 0x31, 0xc0, 0x8e, 0xd8, 0x8e, 0xd0, 0xbc, 0x00, 0x7c, 0x40, 0xe8,
                          0x03, 0x00, 0xeb, 0xfa, 0x90, 0x43, 0xa3, 0x00, 0x05, 0xc3};
  for (size_t i = 0; i < sizeof code; i++) mem.write8(uint32_t(0x7c00 + i), code[i]);
  const std::vector<Exchange> table = {
      {"stack element, word", "x /1hx 0x7C00", {"x /1hx 0x7C00"},
       "x /1hx 0x7C00\n[bochs]:\n0x0000000000007c00 <bogus+       0>:\t0x31fa\n<bochs:131> ",
       sim::reply::examine(mem, 0x7c00, 1, 'h', 'x') + "<bochs:2> "},
      {"struct field, 8 bytes", "x /2wx 0x7C00", {"x /2wx 0x7C00"},
       "x /2wx 0x7C00\n[bochs]:\n0x0000000000007c00 <bogus+       0>:\t0x8ec031fa\t0xbcd08ed8\n<bochs:134> ",
       sim::reply::examine(mem, 0x7c00, 2, 'w', 'x') + "<bochs:2> "},
      {"bytes over three lines", "xp /17bx 0x7C00", {"xp /17bx 0x7C00"},
       "xp /17bx 0x7C00\n[bochs]:\n"
       "0x0000000000007c00 <bogus+       0>:\t0xfa\t0x31\t0xc0\t0x8e\t0xd8\t0x8e\t0xd0\t0xbc\n"
       "0x0000000000007c08 <bogus+       8>:\t0x00\t0x7c\t0x40\t0xe8\t0x03\t0x00\t0xeb\t0xfa\n"
       "0x0000000000007c10 <bogus+      16>:\t0x90\n<bochs:106> ",
       sim::reply::examine(mem, 0x7c00, 17, 'b', 'x') + "<bochs:2> "},
      {"doublewords, signed", "x /9wd 0x7C00", {"x /9wd 0x7C00"},
       "x /9wd 0x7C00\n[bochs]:\n"
       "0x0000000000007c00 <bogus+       0>:\t-1900006918\t-1127182632\t-398427136\t-85262333\n"
       "0x0000000000007c10 <bogus+      16>:\t10699664\t49925\t0\t0\n"
       "0x0000000000007c20 <bogus+      32>:\t0\n<bochs:95> ",
       sim::reply::examine(mem, 0x7c00, 9, 'w', 'd') + "<bochs:2> "},
      {"bytes, octal", "x /3bo 0x7C00", {"x /3bo 0x7C00"},
       "x /3bo 0x7C00\n[bochs]:\n0x0000000000007c00 <bogus+       0>:\t372\t61\t300\n<bochs:85> ",
       sim::reply::examine(mem, 0x7c00, 3, 'b', 'o') + "<bochs:2> "},
      {"quadwords, hex: 16 digits each", "xp /3gx 0x7C10", {"xp /3gx 0x7C10"},
       "xp /3gx 0x7C10\n[bochs]:\n0x0000000000007c10 <bogus+       0>:\t0xc30500a34390\t0x00000000\n"
       "0x0000000000007c20 <bogus+      16>:\t0x00000000\n<bochs:100> ",
       sim::reply::examine(mem, 0x7c10, 3, 'g', 'x') + "<bochs:2> "},
      {"quadwords, binary: asked as hex", "xp /2gt 0x7C00", {"xp /2gx 0x7C00"},
       "xp /2gx 0x7C00\n[bochs]:\n0x0000000000007c00 <bogus+       0>:\t0xbcd08ed88ec031fa\t0xfaeb0003e8407c00\n<bochs:104> ",
       sim::reply::examine(mem, 0x7c00, 2, 'g', 't') + "<bochs:2> "},
      {"halfwords, binary", "x /1ht 0x7C00", {"x /1ht 0x7C00"},
       "x /1ht 0x7C00\n[bochs]:\n0x0000000000007c00 <bogus+       0>:\t0011000111111010\n<bochs:92> ",
       sim::reply::examine(mem, 0x7c00, 1, 'h', 't') + "<bochs:2> "},
      {"a count of zero: no rows", "xp /0bx 0x7C00", {"xp /0bx 0x7C00"},
       "xp /0bx 0x7C00\n[bochs]:\ndbg_examine: repeat count given but is zero.\n<bochs:136> ",
       sim::reply::examine(mem, 0x7c00, 0, 'b', 'x') + "<bochs:2> "},
      {"a linear range that touches a page not present: one error line, no values", "x /4wx 0x3FFFF8",
       {"x /4wx 0x3FFFF8"},
       "x /4wx 0x3FFFF8\n[bochs]:\n0x00000000003ffff8 <bogus+       0>:\t0x00000000\t0x00000000bx_dbg_read_linear: physical address not available for linear 0x0000000000400000\n<bochs:6> ",
       "Error: reading linear 0x00400000: page not present\n<bochs:2> "},
      {"a linear range that starts on a page not present", "x /2wx 0x401000", {"x /2wx 0x401000"},
       "x /2wx 0x401000\n[bochs]:\n0x0000000000401000 <bogus+       0>:bx_dbg_read_linear: physical address not available for linear 0x0000000000401000\n<bochs:12> ",
       "Error: reading linear 0x00401000: page not present\n<bochs:2> "},
      {"a linear read past the end of memory: the message on a line of its own", "x /8wx 0xFFFFF8",
       {"x /8wx 0xFFFFF8"},
       "x /8wx 0xFFFFF8\n[bochs]:\n0x0000000000fffff8 <bogus+       0>:\t0x00000000\t0x00000000bx_dbg_read_linear: physical memory read error (phy=0x000001000000, lin=0x0000000001000000)\n<bochs:142> ",
       "0x00fffff8 <bogus+0>:\t0x00000000\t0x00000000\nbx_dbg_read_linear: physical memory read error "
       "(phy=0x000001000000, lin=0x0000000001000000)\n<bochs:2> "},
  };
  for (const Exchange &e : table) check_every_split(e);
}

TEST(BridgeTranslate, QuitSendsQAndHandsNothingBack) {
  Started st;
  st.s.from_front("q\n");
  EXPECT_EQ(st.s.to_emulator(), "q\n");
  EXPECT_TRUE(st.s.quit_sent());
  st.s.from_emulator("q\n(0).[79598867] [0x000000007c0a] 0000:7c0a (unk. ctxt): inc ax                    ; 40\n");
  EXPECT_EQ(st.s.to_front(), "");
}

TEST(BridgeTranslate, TheEndOfVumsCommandsEndsBochsAfterThePendingReply) {
  Started st;
  st.s.from_front("c\n");
  st.s.from_emulator("c\n");
  st.s.to_emulator().clear();
  st.s.front_closed();
  EXPECT_EQ(st.s.to_emulator(), "") << "Bochs is running: q waits for its prompt";
  st.s.from_emulator("Next at t=9\n(0) [0x000000007c0a] 0000:7c0a (unk. ctxt): inc ax                    ; 40\n<bochs:4> ");
  EXPECT_EQ(st.s.to_emulator(), "q\n");
  EXPECT_TRUE(st.s.quit_sent());
}

TEST(BridgeTranslate, TypedAddressesAreHex) {
  const struct {
    const char *typed, *sent;
  } cases[] = {{"7c00", "0x7c00"},         {"0x7C00", "0x7c00"},  {"0500", "0x500"},
               {"0:7c15", "0x0:0x7c15"},   {"8:0x7c6c", "0x8:0x7c6c"},
               {"0x7c00+2", "0x7c00+2"},   {"", ""},              {"zz", "zz"}};
  for (const auto &c : cases) EXPECT_EQ(bridge::hex_address(c.typed), c.sent) << c.typed;
}

TEST(BridgeTranslate, NoReplyTextOpensAPromptEarly) {
  // VUM takes any '<' for the start of the prompt; only the prompt and a
  // dump's "<bogus+N>" label keep theirs.
  const Exchange table[] = {
      {"an error naming a '<'", "foo", {"foo"}, "foo\n:150: syntax error at '<x>'\n<bochs:151> ",
       ":150: syntax error at '?x>'\n<bochs:2> "},
      {"a step that printed no location", "s", {"s"}, "s\nError: <no cpu>\n<bochs:4> ", "Error: ?no cpu>\n<bochs:2> "},
  };
  for (const Exchange &e : table) check_every_split(e);
  EXPECT_EQ(bridge::without_prompt_marks("0x00007c00 <bogus+0>:\t<"), "0x00007c00 <bogus+0>:\t?");
}

// The contract's line of u: "xxxxxxxx: (SYMBOL              ): TEXT ; BYTES",
// the text left-justified in 25 columns.
std::string u_line(uint32_t address, const char *symbol, const char *text, const char *bytes) {
  char buf[200];
  snprintf(buf, sizeof buf, "%08x: (%-20s): %-25s ; %s\n", address, symbol, text, bytes);
  return buf;
}

TEST(BridgeTranslate, TheNewCommandsReadAsTheContractSays) {
  const std::vector<Exchange> table = {
      {"u, real mode", "u /4 0x7c20", {"u /4 0x7c20"},
       "u /4 0x7c20\n"
       "0000000000007c20: (                    ): call .+45  (0x00007c50)   ; e82d00\n"
       "0000000000007c23: (                    ): loop .-5  (0x00007c20)    ; e2fb\n"
       "0000000000007c25: (                    ): mov si, 0x7d00            ; be007d\n"
       "0000000000007c28: (                    ): mov di, 0x0600            ; bf0006\n<bochs:5> ",
       u_line(0x7c20, "", "call .+45  (0x00007c50)", "e82d00") + u_line(0x7c23, "", "loop .-5  (0x00007c20)", "e2fb") +
           u_line(0x7c25, "", "mov si, 0x7d00", "be007d") + u_line(0x7c28, "", "mov di, 0x0600", "bf0006") +
           "<bochs:2> "},
      {"u, old words, long text", "u /2 0x7C2F", {"u /2 0x7c2f"},
       "u /2 0x7c2f\n"
       "0000000000007c2f: (                    ): rep movsb byte ptr es:[di], byte ptr ds:[si] ; f3a4\n"
       "0000000000007c31: (                    ): callf 0x0000:7c58         ; 9a587c0000\n<bochs:13> ",
       u_line(0x7c2f, "", "rep: movsb byte ptr es:[di], byte ptr ds:[si]", "f3a4") +
           u_line(0x7c31, "", "call far 0x0000:7c58", "9a587c0000") + "<bochs:2> "},
      {"u, 32-bit code with symbols", "u /2 7ca1", {"u /2 0x7ca1"},
       "u /2 0x7ca1\n"
       "0000000000007ca1: (           pm_loop+1): call .+26 pm_sub+0 (0x00007cc0) ; e81a000000\n"
       "0000000000007ca6: (           pm_loop+6): mov dword ptr ds:0x00000500, eax ; a300050000\n<bochs:7> ",
       u_line(0x7ca1, "pm_loop+1", "call .+26 pm_sub+0 (0x00007cc0)", "e81a000000") +
           u_line(0x7ca6, "pm_loop+6", "mov dword ptr ds:0x00000500, eax", "a300050000") + "<bochs:2> "},
      {"u, Bochs's notes on far selectors go", "u /2 0x7c45", {"u /2 0x7c45"},
       "u /2 0x7c45\n"
       "bx_dbg_read_pmode_descriptor: selector (0x9090) > GDT size limit\n"
       "0000000000007c45: (                    ): jmpf 0x9090:0008          ; ea08009090\n"
       "0000000000007c4a: (                    ): nop                       ; 90\n<bochs:9> ",
       u_line(0x7c45, "", "jmp far 0x9090:0008", "ea08009090") + u_line(0x7c4a, "", "nop", "90") + "<bochs:2> "},
      {"u on a page that is not present", "u /2 0x401000", {"u /2 0x401000"},
       "u /2 0x401000\nbx_dbg_read_linear: physical address not available for linear 0x0000000000401000\n<bochs:16> ",
       "Error: reading linear 0x00401000: page not present\n<bochs:2> "},
      {"u beyond memory", "u /2 0x2000000", {"u /2 0x2000000"},
       "u /2 0x2000000\nbx_dbg_read_linear: physical memory read error (phy=0x000002000000, lin=0x0000000002000000)\n"
       "<bochs:11> ",
       "Error: reading linear 0x02000000: no memory at physical 0x02000000\n<bochs:2> "},
      {"set", "set eax = 0x12345678", {"set eax = 0x12345678"}, "set eax = 0x12345678\n<bochs:6> ", "<bochs:2> "},
      {"set, no blanks", "set eip=7ca1", {"set eip = 0x7ca1"}, "set eip = 0x7ca1\n<bochs:14> ", "<bochs:2> "},
      {"setpmem", "setpmem 0x500 4 0x11223344", {"setpmem 0x500 4 0x11223344"},
       "setpmem 0x500 4 0x11223344\n<bochs:20> ", "<bochs:2> "},
      {"setpmem beyond memory: Bochs's error", "setpmem 0x2000000 4 0x1", {"setpmem 0x2000000 4 0x1"},
       "setpmem 0x2000000 4 0x1\nError: setpmem: could not set memory, out of physical bounds?\n<bochs:26> ",
       "Error: setpmem: could not set memory, out of physical bounds?\n<bochs:2> "},
      {"a console command", "info tab", {"info tab"},
       "info tab\ncr3: 0x000000010000\n"
       "0x0000000000000000-0x00000000003fffff -> 0x000000000000-0x0000003fffff\n<bochs:9> ",
       "cr3: 0x000000010000\n0x0000000000000000-0x00000000003fffff -> 0x000000000000-0x0000003fffff\n<bochs:2> "},
      {"a console command with quotes", "ldsym \"/tmp/demo.sym\"", {"ldsym \"/tmp/demo.sym\""},
       "ldsym \"/tmp/demo.sym\"\n<bochs:2> ", "<bochs:2> "},
  };
  for (const Exchange &e : table) check_every_split(e);
}

TEST(BridgeTranslate, InstructionLinesWithSymbolsKeepATwoWordContext) {
  const Exchange e{"step with symbols loaded", "s", {"s"},
                   "s\nNext at t=13039987\n(0) [0x000000007ca1] 0008:0000000000007ca1 (pm_loop+1): call .+26 pm_sub+0 "
                   "(0x00007cc0) ; e81a000000\n<bochs:8> ",
                   "Next at t=13039987\n(0) [0x00007ca1] 0008:00007ca1 (pm_loop +1): call .+26 pm_sub+0 (0x00007cc0) "
                   "; e81a000000\n<bochs:2> "};
  check_every_split(e);
}

// What VUM's entries and console may send that is not well formed for its
// command: the old dialect's error line and the prompt, nothing to Bochs.
TEST(BridgeTranslate, MalformedLinesAreAnsweredWithoutBochs) {
  const char *const lines[] = {
      "pb 0x7c00;q",
      "pb 0x7c00;writemem \"/tmp/x\" 0xfe05b 64",
      "lb 0x7c00;c",
      "vb 0:0x7c00;c",
      "watch read 0x7c00;c",
      "info break;q",
      "r;q",
      "pb \"0x7c00\"",
      "pb start",
      "pb 0x7c00 0x7c01",
      "pb 0x7c00+2",
      "pb 0x100000000",
      "pb 0x",
      "vb 0x10000:0",
      "vb 0:0x100000000",
      "vb 7c00",
      "watch read 0xffffffffffffffff",
      "watch read",
      "watch rd 0x500",
      "unwatch read 0x1ffffffff",
      "d x",
      "d 1 2",
      "s 0",
      "s x",
      "c c",
      "q now",
      "x /4bx",
      "x 0x7c00",
      "x /4zx 0x7c00",
      "x /4bx 0x7c00 0x7c01",
      "xp /4bx 0x100000000",
      "u /0 0x7c00",
      "u /65 0x7c00",
      "u 0x7c00",
      "set eflags = 0x202",
      "set cr0 = 0x1",
      "set eax = 0x100000000",
      "set eax = 5+1",
      "set eax",
      "setpmem 0x500 3 0x1",
      "setpmem 0x500 2 0x10000",
      "setpmem 0x500 4 0x1ffffffff",
      "setpmem 0x500 4",
      "trace-on now",
      "dump_cpu all",
      "info\x04",
      "s\x1b[A",
  };
  for (const char *line : lines) {
    Started st;
    st.s.from_front(std::string(line) + "\n");
    EXPECT_EQ(st.s.to_emulator(), "") << line;
    const std::string &out = st.s.to_front();
    EXPECT_EQ(out.rfind("Error: ", 0), 0u) << line << ": " << out;
    ASSERT_GE(out.size(), 10u);
    EXPECT_EQ(out.substr(out.size() - 10), "<bochs:2> ") << line;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << line << ": one line";
    EXPECT_EQ(out.find('<'), out.size() - 10) << line;
    // The dialogue goes on: the next line reaches Bochs.
    st.s.from_front("s\n");
    EXPECT_EQ(st.s.to_emulator(), "s\n") << line;
  }
}

// Bytes Bochs 2.7 printed for the small guests (demo/guests): the stop
// reports carry the notices of the contract before their location.
TEST(BridgeTranslate, MagicBreakpointsAndResetsGiveTheirNotices) {
  const std::string reset_location =
      "Next at t=12936055\n"
      "(0) [0x0000fffffff0] f000:fff0 (unk. ctxt): jmpf 0xf000:e05b          ; ea5be000f0\n<bochs:2> ";
  const std::string old_reset_location =
      "Next at t=12936055\n" + old_line("(0) [0xfffffff0] f000:fff0", "jmp far 0xf000:e05b", "ea5be000f0") +
      "<bochs:2> ";
  const std::string int3_trace =
      "(0).[12936054] [0x000000007c0f] 0000:7c0f (unk. ctxt): int 0x03                  ; cd03\n";
  const char triple_log[] =
      "00012936054e[CPU0  ] exception(): 3rd (13) exception with no resolution, shutdown status is 00h, resetting";
  const struct {
    const char *name;
    std::string command, reply;
    bool triple_log;
    std::string old;
  } table[] = {
      {"magic breakpoint, run", "c",
       "c\n(0) Magic breakpoint\nNext at t=12936054\n"
       "(0) [0x000000007c0c] 0000:7c0c (unk. ctxt): inc ax                    ; 40\n<bochs:2> ",
       false,
       "(0) Magic breakpoint\nNext at t=12936054\n" + old_line("(0) [0x00007c0c] 0000:7c0c", "inc ax", "40") +
           "<bochs:2> "},
      {"magic breakpoint, step", "s",
       "s\n(0) Magic breakpoint\nNext at t=12936054\n"
       "(0) [0x000000007c0c] 0000:7c0c (unk. ctxt): inc ax                    ; 40\n<bochs:4> ",
       false,
       "(0) Magic breakpoint\nNext at t=12936054\n" + old_line("(0) [0x00007c0c] 0000:7c0c", "inc ax", "40") +
           "<bochs:2> "},
      {"triple fault, run", "c", "c\n" + int3_trace + reset_location, true,
       "(0) Reset after a triple fault\n" + old_reset_location},
      {"triple fault, step", "s", "s\n" + int3_trace + reset_location, true,
       "(0) Reset after a triple fault\n" + old_reset_location},
      {"a reset Bochs's log does not name", "c",
       "c\n(0).[13298556] [0x0000000e1b1b] 0010:00000000000e1b1b (unk. ctxt): wrmsr                     ; 0f30\n"
       "Next at t=13298557\n"
       "(0) [0x0000fffffff0] f000:fff0 (unk. ctxt): jmpf 0xf000:e05b          ; ea5be000f0\n<bochs:4> ",
       false,
       "(0) Reset\nNext at t=13298557\n" +
           old_line("(0) [0xfffffff0] f000:fff0", "jmp far 0xf000:e05b", "ea5be000f0") + "<bochs:2> "},
  };
  for (const auto &t : table) {
    auto feed = [&](const std::vector<size_t> &cuts) {
      Started st;
      st.s.from_front(t.command + "\n");
      if (t.triple_log) st.s.from_emulator_log(triple_log);
      size_t from = 0;
      for (size_t cut : cuts) {
        st.s.from_emulator(std::string_view(t.reply).substr(from, cut - from));
        from = cut;
      }
      st.s.from_emulator(std::string_view(t.reply).substr(from));
      return st.s.to_front();
    };
    EXPECT_EQ(feed({}), t.old) << t.name;
    for (size_t cut = 1; cut < t.reply.size(); cut++) EXPECT_EQ(feed({cut}), t.old) << t.name << ": split at " << cut;
  }
}

TEST(BridgeTranslate, ATracedRunThatEndsInAResetShowsTheTraceThenTheNotice) {
  Started st;
  st.s.from_front("trace-on\n");
  st.s.from_emulator("trace on\nTracing enabled for CPU0\n<bochs:2> ");
  st.s.to_front().clear();
  st.s.from_front("c\n");
  st.s.from_emulator_log(
      "00012936054e[CPU0  ] exception(): 3rd (13) exception with no resolution, shutdown status is 00h, resetting");
  st.s.from_emulator(
      "c\n"
      "(0).[12936054] [0x000000007c0f] 0000:7c0f (unk. ctxt): int 0x03                  ; cd03\n"
      "CPU 0: Interrupt 0x03 occurred (error_code=0x0000)\n"
      "CPU 0: Exception 0x0d - (#GP) general protection fault occurred (error_code=0x0000)\n"
      "CPU 0: Interrupt 0x0d occurred (error_code=0x0000)\n"
      "CPU 0: Exception 0x0d - (#GP) general protection fault occurred (error_code=0x0001)\n"
      "CPU 0: Exception 0x08 - (#DF) double fault occurred (error_code=0x0000)\n"
      "CPU 0: Interrupt 0x08 occurred (error_code=0x0000)\n"
      "CPU 0: Exception 0x0d - (#GP) general protection fault occurred (error_code=0x0001)\n"
      "(0).[12936054] [0x000000007c0f] 0000:7c0f (unk. ctxt): int 0x03                  ; cd03\n"
      "Next at t=12936055\n"
      "(0) [0x0000fffffff0] f000:fff0 (unk. ctxt): jmpf 0xf000:e05b          ; ea5be000f0\n<bochs:5> ");
  EXPECT_EQ(st.s.to_front(), old_line("(0) [0x00007c0f] 0000:7c0f", "int 0x03", "cd03") +
                                 "(0) Reset after a triple fault\nNext at t=12936055\n" +
                                 old_line("(0) [0xfffffff0] f000:fff0", "jmp far 0xf000:e05b", "ea5be000f0") +
                                 "<bochs:3> ");
}

// A SIGINT reaches Bochs only once Bochs has read the run it is meant to
// stop: at its prompt Bochs drops it, and the run would go on for ever.
TEST(BridgeTranslate, AnInterruptWaitsUntilBochsHasReadTheRun) {
  const std::string stop =
      "Next at t=9\n(0) [0x000000007c0a] 0000:7c0a (unk. ctxt): inc ax                    ; 40\n<bochs:3> ";
  {
    SCOPED_TRACE("Go, then Stop before the echo of c");
    Started st;
    st.s.from_front("c\n");
    st.s.interrupt();
    EXPECT_FALSE(st.s.interrupt_due()) << "Bochs has not read c";
    st.s.from_emulator("c");
    EXPECT_FALSE(st.s.interrupt_due());
    st.s.from_emulator("\n");
    EXPECT_TRUE(st.s.interrupt_due());
    st.s.interrupt_sent();
    EXPECT_TRUE(st.s.interrupt_outstanding());
    st.s.from_emulator(stop);
    EXPECT_FALSE(st.s.interrupt_outstanding()) << "the run is over";
    EXPECT_FALSE(st.s.interrupt_due());
  }
  {
    SCOPED_TRACE("Stop while c waits for the end of another reply");
    Started st;
    st.s.from_front("x /1bx 0x7c00\nc\n");
    st.s.interrupt();
    EXPECT_FALSE(st.s.interrupt_due());
    st.s.from_emulator("x /1bx 0x7c00\n[bochs]:\n0x0000000000007c00 <bogus+       0>:\t0xfa\n<bochs:2> ");
    EXPECT_EQ(st.s.to_emulator(), "x /1bx 0x7c00\nc\n");
    EXPECT_FALSE(st.s.interrupt_due());
    st.s.from_emulator("c\n");
    EXPECT_TRUE(st.s.interrupt_due()) << "kept for the run";
  }
  {
    SCOPED_TRACE("a step that does not return (a halted processor)");
    Started st;
    st.s.from_front("s\n");
    st.s.from_emulator("s\n");
    st.s.interrupt();
    EXPECT_TRUE(st.s.interrupt_due());
  }
  {
    SCOPED_TRACE("Bochs's own step over, typed in the console, runs the guest too");
    Started st;
    st.s.from_front("n\n");
    st.s.from_emulator("n\n");
    st.s.interrupt();
    EXPECT_TRUE(st.s.interrupt_due());
  }
  {
    SCOPED_TRACE("Stop at the idle prompt");
    Started st;
    st.s.interrupt();
    EXPECT_FALSE(st.s.interrupt_due());
    st.s.from_front("c\n");
    st.s.from_emulator("c\n");
    EXPECT_FALSE(st.s.interrupt_due()) << "dropped, as Bochs drops it";
  }
  {
    SCOPED_TRACE("Stop while a command that runs nothing is answered");
    Started st;
    st.s.from_front("info break\n");
    st.s.from_emulator("info break\n");
    st.s.interrupt();
    st.s.from_emulator("Num Type           Disp Enb Address\n<bochs:2> ");
    st.s.from_front("c\n");
    st.s.from_emulator("c\n");
    EXPECT_FALSE(st.s.interrupt_due());
  }
  {
    SCOPED_TRACE("VUM closes its commands during a run");
    Started st;
    st.s.from_front("c\n");
    st.s.from_emulator("c\n");
    st.s.front_closed();
    EXPECT_TRUE(st.s.interrupt_due());
    st.s.interrupt_sent();
    st.s.from_emulator(stop);
    EXPECT_EQ(st.s.to_emulator(), "c\nq\n");
  }
}

// A panic whose action is "ask" puts a question on Bochs's standard output
// and waits for the answer: it is told to die rather than wait for ever.
TEST(BridgeTranslate, APanicQuestionIsAnsweredDie) {
  const std::string banner =
      "========================================================================\n"
      "                        Bochs x86 Emulator 2.7\n"
      "========================================================================\n"
      "Choose one of the actions above: [die] ";
  for (size_t cut = 0; cut <= banner.size(); cut++) {
    Session s;
    s.from_emulator(banner.substr(0, cut));
    s.from_emulator(banner.substr(cut));
    EXPECT_EQ(s.to_emulator(), "die\n") << "split at " << cut;
    EXPECT_TRUE(s.panic_answered());
    EXPECT_EQ(s.to_front().find('<'), std::string::npos);
  }
  Session s;
  s.from_emulator("I said: Choose one of the actions above: [die] ");
  EXPECT_EQ(s.to_emulator(), "") << "only at the start of a line";
}

// Bochs prints the reset's trace line, then logs the triple fault, then
// prints "Next at": its log is read once the location has come, not at the
// trace line, where it may not hold the triple fault yet.
TEST(BridgeTranslate, TheLogIsReadForTheTripleFaultOnceTheLocationHasCome) {
  const std::string trace =
      "(0).[12936054] [0x000000007c0f] 0000:7c0f (unk. ctxt): int 0x03                  ; cd03\n";
  const std::string location =
      "Next at t=12936055\n"
      "(0) [0x0000fffffff0] f000:fff0 (unk. ctxt): jmpf 0xf000:e05b          ; ea5be000f0\n<bochs:2> ";
  for (const char *command : {"c", "s"}) {
    SCOPED_TRACE(command);
    Started st;
    bool logged = false;
    int asked = 0;
    st.s.on_log_wanted([&] {
      asked++;
      if (logged) st.s.from_emulator_log("00012936054e[CPU0  ] exception(): 3rd (13) exception with no resolution");
    });
    st.s.from_front(std::string(command) + "\n");
    st.s.from_emulator(std::string(command) + "\n" + trace);
    logged = true;  // Bochs logs it now
    st.s.from_emulator(location);
    EXPECT_EQ(st.s.to_front().rfind("(0) Reset after a triple fault\nNext at t=12936055\n", 0), 0u) << st.s.to_front();
    EXPECT_EQ(asked, 1);
  }
}
