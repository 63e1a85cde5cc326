// SplitArguments: the one argument tokenizer of the protocol engine.
//
// Splits NUL-terminated text in place into at most max_count arguments and stores each one's
// start as an offset from text. Outside quotes and at parenthesis and bracket depth 0, a space
// ends an argument (runs of spaces give no empty arguments). A double quote toggles quoting
// wherever it stands: an opening one restarts the argument after it, a closing one ends the
// argument, which counts even when empty. Parentheses and brackets nest and stay part of the
// argument. There is no escape character; an argument still open at the end is not counted, and
// nothing after the max_count-th argument is looked at.
#pragma once

#include <cstddef>

namespace kivimap::imap {

int SplitArguments(char* text, std::size_t* offsets, int max_count);

}  // namespace kivimap::imap
