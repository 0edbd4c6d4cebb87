#include "text/guest_text.hpp"

void append_guest_text(const char *bytes, size_t length, std::string *out) {
  out->reserve(out->size() + length);
  for (size_t i = 0; i < length; i++) {
    unsigned char c = (unsigned char)bytes[i];
    if (c == '\r') continue;
    if (c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7f)) {
      out->push_back((char)c);
    } else if (c < 0x80) {
      out->push_back('.');
    } else {
      out->push_back((char)(0xC0 | (c >> 6)));
      out->push_back((char)(0x80 | (c & 0x3F)));
    }
  }
}
