#include "text/console_rules.hpp"

#include <cctype>
#include <initializer_list>
#include <cstring>
#include <vector>

namespace {

std::vector<std::string> words_of(const std::string &line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) at++;
    size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') end++;
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string lower(std::string word) {
  for (char &c : word) c = (char)tolower((unsigned char)c);
  return word;
}

bool one_of(const std::string &word, std::initializer_list<const char *> names) {
  for (const char *name : names)
    if (word == name) return true;
  return false;
}

ConsoleVerdict verdict(ConsoleAction action, const std::string &command, const std::string &message) {
  return ConsoleVerdict{action, command, message};
}

}  // namespace

ConsoleVerdict judge_console_line(const char *typed) {
  std::string line = typed;
  size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string::npos) return verdict(ConsoleAction::ignore, "", "");
  size_t end = line.find_last_not_of(" \t");
  line = line.substr(begin, end - begin + 1);

  for (char c : line)
    if ((unsigned char)c < 0x20 || c == 0x7f)
      return verdict(ConsoleAction::refuse, line, "Refused: the line holds a control character");
  if (line.find(';') != std::string::npos)
    return verdict(ConsoleAction::refuse, line, "Refused: one command at a time, without ';'");

  std::vector<std::string> words = words_of(line);
  std::string command = lower(words[0]);
  size_t arguments = words.size() - 1;

  if (one_of(command, {"s", "step", "si", "stepi"})) {
    if (arguments == 0 || (arguments == 1 && words[1] == "1"))
      return verdict(ConsoleAction::step, line, "Done with VUM's Step, so that the views follow the stop");
    return verdict(ConsoleAction::refuse, line,
                   "Refused: VUM steps one instruction at a time (Step, F11), so that every stop is shown");
  }
  if (one_of(command, {"c", "cont", "continue"})) {
    if (arguments == 0)
      return verdict(ConsoleAction::go, line, "Done with VUM's Go, so that the views follow the stop");
    return verdict(ConsoleAction::refuse, line, "Refused: use Go (F5)");
  }
  if (one_of(command, {"n", "next", "p"})) {
    if (arguments == 0)
      return verdict(ConsoleAction::next, line, "Done with VUM's Next, so that the views follow the stop");
    return verdict(ConsoleAction::refuse, line, "Refused: use Next (F10)");
  }
  if (one_of(command, {"q", "quit", "exit"}))
    return verdict(ConsoleAction::refuse, line, "Refused: end the debugger with Kill Bochs, or VUM with Quit");
  if (command.compare(0, 5, "trace") == 0)
    return verdict(ConsoleAction::refuse, line,
                   "Refused: tracing is switched on the Preferences page, so that the History follows it");
  return verdict(ConsoleAction::send, line, "");
}

bool console_command_changes_points(const std::string &line) {
  std::vector<std::string> words = words_of(line);
  if (words.empty()) return false;
  std::string command = lower(words[0]);
  return one_of(command, {"pb", "pbreak", "lb", "lbreak", "vb", "vbreak", "b", "break", "d", "del", "delete",
                          "bpe", "bpd", "watch", "unwatch", "rwatch", "awatch"});
}
