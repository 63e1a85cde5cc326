// SEARCH's arguments: "[CHARSET name] key [key ...]" (RFC 3501, 6.4.4 and 9) into a tree of keys.
//
// Key names are matched without regard to case. Strings are atoms or quoted strings; without
// CHARSET UTF-8 they are US-ASCII, and an 8-bit byte in one is a syntax error. Dates are
// "d-Mon-yyyy" (quoted or not) and must name a real day. Numbers are 32-bit. Keys nest (NOT,
// OR, parentheses) up to kMaxSearchDepth deep, which keeps the recursion of the parser and of
// the evaluator bounded whatever the line holds.
#pragma once

#include <string_view>

#include "imap/search_key.h"

namespace kivimap::imap {

inline constexpr int kMaxSearchDepth = 64;

enum class SearchParseStatus {
  Ok,
  SyntaxError,
  BadCharset,  // CHARSET names one other than US-ASCII or UTF-8
};

struct SearchParse {
  SearchParseStatus status = SearchParseStatus::SyntaxError;
  // Ok: an And of the command's keys, each And's children ordered cheapest first.
  SearchKey root;
};

SearchParse ParseSearch(std::string_view arguments);

}  // namespace kivimap::imap
