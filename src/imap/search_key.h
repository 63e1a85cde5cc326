// A parsed SEARCH: a tree of keys (RFC 3501, 6.4.4) that search_parser.h builds and
// search_evaluator.h runs against each message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imap/search_set.h"

namespace kivimap::imap {

enum class SearchKeyKind {
  Flags,        // every bit of set_flags set and every bit of clear_flags clear (ALL: neither)
  Nothing,      // KEYWORD: no message carries keywords
  Sequence,     // a sequence set
  Uid,          // UID set
  Larger,       // size above number
  Smaller,      // size below number
  Date,         // BEFORE, ON, SINCE and the SENT* forms
  HeaderField,  // HEADER, and FROM, TO, CC, BCC, SUBJECT as HEADER of their field
  Body,         // BODY: the text parts
  Text,         // TEXT: the header fields and the text parts
  Not,
  Or,   // two children
  And,  // the keys of the command, or of a parenthesized list
};

enum class DateRelation { Before, On, Since };

// How much a key costs to decide for one message; an And tries its cheaper keys first, so that
// a file is read only for the messages that the cheaper keys leave in.
enum class SearchCost {
  Flags = 0,   // the message object alone
  Size = 1,    // the length of its file
  Header = 2,  // its header block
  Body = 3,    // its whole text
};

struct SearchKey {
  SearchKeyKind kind = SearchKeyKind::Flags;
  std::int32_t set_flags = 0;
  std::int32_t clear_flags = 0;
  std::uint32_t number = 0;  // Larger, Smaller
  DateRelation relation = DateRelation::On;
  bool sent = false;     // Date: the Date field (SENT*), not the internal date
  std::int64_t day = 0;  // Date: a day number (DaysSinceEpoch)
  std::string field;     // HeaderField: the field name
  std::string text;      // HeaderField, Body, Text: the string searched for
  SearchSet set;         // Sequence, Uid
  std::vector<SearchKey> children;
  SearchCost cost = SearchCost::Flags;
};

}  // namespace kivimap::imap
