#include "text.hpp"

namespace sim {

std::vector<std::string> split_words(const std::string &line) {
  std::vector<std::string> out;
  auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f'; };
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && blank(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !blank(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

bool parse_hex(const std::string &text, uint64_t max, uint64_t *out) {
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  if (i == text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    char ch = text[i];
    unsigned d;
    if (ch >= '0' && ch <= '9')
      d = unsigned(ch - '0');
    else if (ch >= 'a' && ch <= 'f')
      d = unsigned(ch - 'a' + 10);
    else if (ch >= 'A' && ch <= 'F')
      d = unsigned(ch - 'A' + 10);
    else
      return false;
    v = v * 16 + d;
    if (v > max) return false;
  }
  *out = v;
  return true;
}

bool parse_decimal(const std::string &text, uint64_t max, uint64_t *out) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + uint64_t(ch - '0');
    if (v > max) return false;
  }
  *out = v;
  return true;
}

}  // namespace sim
