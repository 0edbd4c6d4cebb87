// Repeat folding of the history: an instruction at the same physical address
// as the one before it adds no row but is counted; the count is written as a
// message ("repeated N times") before the next row of any kind.
#pragma once

#include <cstdint>

struct RepeatFold {
  uint32_t last_physical;  // address of the last instruction row, 0 at first
  uint32_t count;          // repeats not yet written
};

// Starts afresh: nothing counted, no instruction before.
void reset_fold(RepeatFold *fold);

// An instruction at `physical`: true when it repeats the last one and has
// been counted; false when it is new and needs a row (after the message
// that take_repeat_message gives, if any).
bool fold_instruction(RepeatFold *fold, uint32_t physical);

// The message for the repeats counted so far, "repeated %u times", and the
// count back to 0; false when nothing was counted.
const int repeat_message_size = 40;
bool take_repeat_message(RepeatFold *fold, char text[repeat_message_size]);
