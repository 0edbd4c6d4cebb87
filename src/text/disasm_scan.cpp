#include "text/disasm_scan.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text/reply_scan.hpp"

namespace {


// Copies [begin, end) without the blanks at its ends into `out` (`size`
// bytes), cut when it is longer.
void copy_trimmed(const char *begin, const char *end, char *out, size_t size) {
  while (begin < end && is_blank(*begin)) begin++;
  while (end > begin && is_blank(end[-1])) end--;
  size_t n = (size_t)(end - begin);
  if (n >= size) n = size - 1;
  memcpy(out, begin, n);
  out[n] = '\0';
}

// The first occurrence of `needle` in [begin, end), or NULL.
const char *find(const char *begin, const char *end, const char *needle) {
  size_t n = strlen(needle);
  for (const char *p = begin; p + n <= end; p++)
    if (memcmp(p, needle, n) == 0) return p;
  return NULL;
}

}  // namespace

bool scan_disasm_line(const char *line, size_t length, DisasmLine *out) {
  const char *end = line + length;
  if (end > line && end[-1] == '\r') end--;
  memset(out, 0, sizeof *out);

  // The address: one to eight hexadecimal digits, then ": (".
  const char *p = line;
  uint32_t address = 0;
  while (p < end && is_hex_digit(*p) && p - line < 8) {
    int digit = *p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10;
    address = (address << 4) | (uint32_t)digit;
    p++;
  }
  if (p == line || end - p < 3 || memcmp(p, ": (", 3) != 0) return false;
  p += 3;

  // The symbol field, up to "): ".
  const char *close = find(p, end, "): ");
  if (close == NULL) return false;
  copy_trimmed(p, close, out->symbol, sizeof out->symbol);
  p = close + 3;

  // The bytes after the last ';': hexadecimal digits, two a byte, blanks around.
  const char *semicolon = NULL;
  for (const char *q = end; q > p; q--)
    if (q[-1] == ';') {
      semicolon = q - 1;
      break;
    }
  if (semicolon == NULL) return false;
  const char *bytes = semicolon + 1;
  const char *bytes_end = end;
  while (bytes < bytes_end && is_blank(*bytes)) bytes++;
  while (bytes_end > bytes && is_blank(bytes_end[-1])) bytes_end--;
  size_t digits = (size_t)(bytes_end - bytes);
  if (digits == 0 || digits % 2 != 0 || digits >= sizeof out->bytes) return false;
  for (const char *q = bytes; q < bytes_end; q++)
    if (!is_hex_digit(*q)) return false;

  copy_trimmed(p, semicolon, out->text, sizeof out->text);
  if (out->text[0] == '\0') return false;
  memcpy(out->bytes, bytes, digits);
  out->bytes[digits] = '\0';
  out->length = (uint32_t)(digits / 2);
  out->address = address;
  return true;
}

void scan_disasm_reply(const std::string &text, DisasmReply *out) {
  out->lines.clear();
  out->error = false;
  out->error_address_known = false;
  out->error_address = 0;
  out->error_text[0] = '\0';
  for (size_t at = 0; at < text.size();) {
    size_t newline = text.find('\n', at);
    if (newline == std::string::npos) newline = text.size();
    const char *line = text.data() + at;
    size_t length = newline - at;
    at = newline + 1;
    DisasmLine scanned;
    if (scan_disasm_line(line, length, &scanned)) {
      out->lines.push_back(scanned);
      continue;
    }
    bool blank = true;
    for (size_t i = 0; i < length; i++)
      if (!is_white(line[i])) blank = false;
    if (blank) continue;
    // Not an instruction: the listing ends here. An error that names an
    // address gives it after "0x".
    out->error = true;
    copy_trimmed(line, line + length, out->error_text, sizeof out->error_text);
    for (size_t i = 0; i + 2 < length; i++) {
      if (line[i] != '0' || (line[i + 1] != 'x' && line[i + 1] != 'X') || !is_hex_digit(line[i + 2])) continue;
      uint32_t value = 0;
      size_t j = i + 2;
      for (; j < length && j < i + 10 && is_hex_digit(line[j]); j++)
        value = (value << 4) | (uint32_t)(line[j] <= '9' ? line[j] - '0' : (line[j] | 0x20) - 'a' + 10);
      if (j < length && is_hex_digit(line[j])) break;  // more than 32 bits: no address
      out->error_address = value;
      out->error_address_known = true;
      break;
    }
    return;
  }
}

// ---------------------------------------------------------------------------

BackScan::BackScan(uint32_t target, uint32_t floor) : target_(target), floor_(floor) {
  if (floor_ > target_) floor_ = target_;
  uint32_t room = target_ - floor_;
  candidate_ = target_ - (room < back_scan_distance ? room : back_scan_distance);
}

bool BackScan::decoded(uint32_t address) const {
  return std::find(starts_seen_.begin(), starts_seen_.end(), address) != starts_seen_.end();
}

bool BackScan::next_start(uint32_t *start) {
  if (landed_.size() >= 2 || tries_ >= back_scan_tries) return false;
  if (candidate_ < floor_) candidate_ = floor_;
  while (candidate_ < target_ && decoded(candidate_)) candidate_++;
  if (candidate_ >= target_) return false;
  *start = candidate_++;
  return true;
}

void BackScan::take(uint32_t start, const DisasmReply &reply) {
  tries_++;
  bool landed = false, passed = false;
  uint32_t expected = start;
  for (const DisasmLine &line : reply.lines) {
    // A reply that is not one stream of instructions from the start (lines
    // out of order, or not following each other) proves nothing.
    if (line.address != expected) {
      passed = true;
      break;
    }
    expected = line.address + line.length;
    if (line.address == target_) {
      landed = true;
      break;
    }
    if (line.address > target_) {
      passed = true;
      break;
    }
    starts_seen_.push_back(line.address);
  }
  if (landed) {
    landed_.push_back(reply);
    return;
  }
  if (passed || !reply.error) return;
  // Memory before the target could not be read: nothing at or below the
  // address named (memory is readable by whole 4 KiB pages) is tried again.
  uint32_t page = target_ & ~0xfffu;
  uint32_t floor;
  if (reply.error_address_known && reply.error_address >= start && reply.error_address < target_)
    floor = (reply.error_address | 0xfffu) + 1;
  else if (start < page)
    floor = page;
  else
    floor = start + 1;
  if (floor > target_ || floor == 0) floor = target_;
  if (floor > floor_) floor_ = floor;
}

std::vector<DisasmLine> BackScan::lines_before() const {
  std::vector<DisasmLine> out;
  if (landed_.empty()) return out;
  const std::vector<DisasmLine> &first = landed_[0].lines;
  size_t from = 0;
  if (landed_.size() >= 2) {
    const std::vector<DisasmLine> &second = landed_[1].lines;
    from = first.size();
    for (size_t i = 0; i < first.size() && first[i].address < target_ && from == first.size(); i++)
      for (const DisasmLine &other : second)
        if (other.address == first[i].address) {
          from = i;
          break;
        }
  }
  for (size_t i = from; i < first.size() && first[i].address < target_; i++) out.push_back(first[i]);
  if (out.size() > lines_before_shown) out.erase(out.begin(), out.end() - (long)lines_before_shown);
  return out;
}

std::vector<DisasmLine> BackScan::lines_from_target() const {
  std::vector<DisasmLine> out;
  if (landed_.empty()) return out;
  bool on = false;
  for (const DisasmLine &line : landed_[0].lines) {
    if (line.address == target_) on = true;
    if (on) out.push_back(line);
  }
  return out;
}
