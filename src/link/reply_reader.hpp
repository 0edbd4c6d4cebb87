// The reader of the debugger's replies: a buffer of its own over the reply
// pipe's descriptor (a position and a length, refilled with read() when
// empty), so that what has been taken from the pipe and not yet consumed is
// always known, and every wait for bytes has a deadline.
//
// Knows nothing of the toolkit: the link watches the descriptor, the
// scanners get their text from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

class ReplyReader {
 public:
  // Why the reader gives no more bytes.
  enum class End {
    none,         // open, or never attached
    end_of_file,  // the writer closed the pipe
    silence,      // nothing arrived within the deadline
    read_error,   // read() or poll() failed
  };

  static const size_t buffer_size = 65536;
  static const int no_deadline = -1;

  ReplyReader() = default;
  ReplyReader(const ReplyReader &) = delete;
  ReplyReader &operator=(const ReplyReader &) = delete;
  ~ReplyReader();

  // Takes over the descriptor (closed by close() or the next attach()).
  void attach(int fd);
  void close();
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Longest silence a wait for bytes accepts, in milliseconds; no_deadline
  // waits for ever.
  void set_deadline(int milliseconds) { deadline_ms_ = milliseconds; }
  int deadline() const { return deadline_ms_; }

  // A nudge: when a wait for bytes has lasted `milliseconds` (and the
  // deadline has not passed), `nudge` is called once, from another thread
  // (it must be safe there: a kill(), say). no_deadline turns it off.
  // nudged() tells whether it was called since the nudge was set.
  void set_nudge(int milliseconds, void (*nudge)());
  bool nudged() const;

  // Called once, when the reader first stops giving bytes (end of file, a
  // deadline passed, a read error); not called by close().
  void set_end_handler(void (*handler)(End why)) { end_handler_ = handler; }

  // The next byte (0 to 255), or -1 when no more will come.
  int get() {
    if (position_ < length_) return (unsigned char)buffer_[position_++];
    return refill() ? (unsigned char)buffer_[position_++] : -1;
  }

  // Puts back the byte the last get() returned (one byte; nothing after -1).
  void unget(int c);

  // The next byte without consuming it, or -1.
  int peek() {
    int c = get();
    unget(c);
    return c;
  }

  // One bounded line, as fgets reads it into `size` bytes: at most size - 1
  // characters, the newline included when it fits; the rest of a longer line
  // is what the next call gets. With stop_at_prompt the line also ends before
  // a '<', which stays unread. At the end of the bytes, also in the middle of
  // a line, the line is left empty and the result is false.
  bool read_line(char *line, size_t size, bool stop_at_prompt);

  // One reply, through its prompt: the text before the prompt goes into
  // *text, the prompt's number into *prompt_number. The prompt is exactly
  // '<', "bochs:", decimal digits and '>', then one more character (a
  // blank), which is consumed too; any other '<' is reply text. A line keeps
  // at most `line_limit` bytes and its newline, the whole text at most
  // `total_limit`; the rest is consumed and dropped, so a runaway line costs
  // no memory and the lines after it are still there. False when the bytes
  // end before a prompt (the text then holds what came).
  bool read_reply(std::string *text, uint32_t *prompt_number,
                  size_t line_limit = default_line_limit,
                  size_t total_limit = default_reply_limit);
  static const size_t default_line_limit = 4096;
  static const size_t default_reply_limit = 1 << 20;

  // True when bytes taken from the pipe wait to be consumed.
  bool buffered() const { return position_ < length_; }

  // True when a whole line, up to its newline, waits among them.
  bool line_buffered() const;

  End end() const { return end_; }
  bool ended() const { return end_ != End::none; }

 private:
  bool refill();
  bool read_more();
  void take_prompt_tail();
  int prompt_at(size_t at, uint32_t *number);
  ssize_t read_some(size_t offset);
  void finish(End why);

  int fd_ = -1;
  int deadline_ms_ = no_deadline;
  End end_ = End::none;
  void (*end_handler_)(End) = nullptr;
  char *buffer_ = nullptr;  // buffer_size bytes, allocated on attach
  size_t position_ = 0;
  size_t length_ = 0;
  bool prompt_tail_due_ = false;  // the character after the last prompt's '>' has not come yet
};
