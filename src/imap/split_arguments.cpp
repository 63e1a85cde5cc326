#include "imap/split_arguments.h"

namespace kivimap::imap {

int SplitArguments(char* text, std::size_t* offsets, int max_count) {
  std::size_t start = 0;
  bool quoted = false;
  int parens = 0;
  int brackets = 0;
  int count = 0;
  for (std::size_t pos = 0; count < max_count; ++pos) {
    const char c = text[pos];
    if (!quoted && parens == 0 && brackets == 0 && (c == ' ' || c == '\0')) {
      if (pos > start) offsets[count++] = start;
      if (c == '\0') break;
      text[pos] = '\0';
      start = pos + 1;
      continue;
    }
    if (c == '"') {
      if (!quoted) {
        start = pos + 1;
      } else {
        text[pos] = '\0';
        offsets[count++] = start;
        start = pos + 1;
      }
      quoted = !quoted;
      continue;
    }
    if (c == '\0') break;  // inside quotes or brackets: the open argument does not count
    if (c == '(' && brackets == 0) {
      ++parens;
    } else if (c == ')' && parens > 0 && brackets == 0) {
      --parens;
    } else if (c == '[' && parens == 0) {
      ++brackets;
    } else if (c == ']' && brackets > 0 && parens == 0) {
      --brackets;
    }
  }
  return count;
}

}  // namespace kivimap::imap
