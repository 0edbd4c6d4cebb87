// Feeds arbitrary bytes to what structure and list windows read: replies
// read through their prompts (as the one exchange reads them), the field
// reply scan (compared with sscanf), and the Start/Total range.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "text/struct_defs.hpp"
#include "reader_input.hpp"

// True when the text holds a whole prompt, "<bochs:" digits ">", which a
// reply's text never may.
static bool holds_prompt(const std::string &text) {
  for (size_t at = text.find("<bochs:"); at != std::string::npos; at = text.find("<bochs:", at + 1)) {
    size_t end = at + 7;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') end++;
    if (end > at + 7 && end - (at + 7) <= 20 && end < text.size() && text[end] == '>') return true;
  }
  return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Replies one after the other, each through its prompt; the text before a
  // prompt never holds the prompt's opening.
  ReplyReader reader;
  read_from(reader, data, size);
  std::string text;
  uint32_t number = 0;
  size_t taken = 0;
  for (int i = 0; i < 64; i++) {
    bool prompt = reader.read_reply(&text, &number, 256, 256);
    if (text.size() > 256 || (prompt && holds_prompt(text))) __builtin_trap();
    taken += text.size();
    uint32_t values[2];
    scan_field_reply(text.c_str(), values, 2);
    if (!prompt) break;
  }
  if (taken > size) __builtin_trap();

  // The scan reads what sscanf reads.
  std::string reply(reinterpret_cast<const char *>(data), size);
  const char *c = reply.c_str();
  for (int count = 1; count <= 2; count++) {
    unsigned a = 0, b = 0;
    int r = count == 1 ? sscanf(c, " %*s %*s 0x%X", &a) : sscanf(c, " %*s %*s 0x%X 0x%X", &a, &b);
    uint32_t values[2] = {0, 0};
    bool ok = scan_field_reply(c, values, count);
    if (ok != (r == count)) __builtin_trap();
    if (ok && (values[0] != a || (count == 2 && values[1] != b))) __builtin_trap();
    if (ok) {
      char out[field_value_size];
      format_field_value(out, count == 2 ? 8 : 4, values);
      if (strlen(out) != (count == 2 ? 18u : 10u)) __builtin_trap();
    }
  }

  // The range: the bytes as the element count and the two entry texts.
  if (size >= 4) {
    uint32_t elements;
    memcpy(&elements, data, 4);
    std::string rest(reinterpret_cast<const char *>(data) + 4, size - 4);
    size_t split = rest.find('|');
    std::string start = rest.substr(0, split);
    std::string total = split == std::string::npos ? "" : rest.substr(split + 1);
    StructRange range = struct_range(elements, start.c_str(), total.c_str());
    if (elements > 0 && (range.start >= elements || range.total == 0 ||
                         range.total > elements - range.start))
      __builtin_trap();
  }
  return 0;
}
