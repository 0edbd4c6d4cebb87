#include "text/history_fold.hpp"

#include <cstdio>

void reset_fold(RepeatFold *fold) {
  fold->last_physical = 0;
  fold->count = 0;
}

bool fold_instruction(RepeatFold *fold, uint32_t physical) {
  if (physical == fold->last_physical) {
    fold->count++;
    return true;
  }
  fold->last_physical = physical;
  return false;
}

bool take_repeat_message(RepeatFold *fold, char text[repeat_message_size]) {
  if (fold->count == 0) return false;
  snprintf(text, repeat_message_size, "repeated %u times", fold->count);
  fold->count = 0;
  return true;
}
