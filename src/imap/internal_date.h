// INTERNALDATE: when a message arrived, as RFC 3501 writes it ("dd-Mon-yyyy hh:mm:ss +zzzz").
//
// The host's store keeps no arrival time, so the message's own Date field stands for it; when
// that is missing or is not a date, the time its file was last modified (in UTC) does. The
// answer is always a valid date-time, never NIL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/message.h"

namespace kivimap::imap {

struct MessageDate {
  int year;          // 0..9999
  int month;         // 1..12
  int day;           // 1..31, valid for the month
  int hour;          // 0..23
  int minute;        // 0..59
  int second;        // 0..60 (a leap second)
  int zone_minutes;  // east of UTC: +0200 is 120

  friend bool operator==(const MessageDate&, const MessageDate&) = default;
};

// An RFC 2822 date-time, read leniently: an optional day of the week (with or without its
// comma), day, month name (abbreviated or in full, any case), 2-, 3- or 4-digit year (2-digit
// ones from 1950 to 2049), "-" or folding white space between the date's parts, time with or
// without seconds, a numeric or an obsolete named zone (UT, GMT, EST... ; an unknown name or a
// missing zone is +0000), and trailing comments such as "(CEST)". Nothing when it is not a
// date, or names a day the month does not have.
std::optional<MessageDate> ParseDateField(std::string_view value);

// The UTC calendar date and time of a count of seconds since 1970-01-01 00:00:00 UTC.
MessageDate DateFromUnixTime(std::int64_t seconds);

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar (negative before).
std::int64_t DaysSinceEpoch(int year, int month, int day);

// The date's own calendar day, as a day number (DaysSinceEpoch): what SEARCH's BEFORE, ON and
// SINCE compare, which disregard the time and the zone.
inline std::int64_t CalendarDay(const MessageDate& date) {
  return DaysSinceEpoch(date.year, date.month, date.day);
}

// The message's internal date: its Date field when that reads as a date, else its file's
// modification time in UTC; nothing when neither is there (no file). Reads the header block
// on first use; may throw std::bad_alloc.
std::optional<MessageDate> MessageInternalDate(store::ImapMessage& message);

// The 26 characters of the date-time, without quotes: "dd-Mon-yyyy hh:mm:ss +zzzz", a day
// below 10 led by a space (" 1-Jul-2003 10:52:37 +0200"). A field outside its range is
// brought to the nearest value inside it, so the text is always valid.
std::string FormatInternalDate(const MessageDate& date);

// Appends the INTERNALDATE value of message in double quotes: MessageInternalDate, or, for a
// message with neither a date nor a file, the start of 1970 in UTC.
void AppendInternalDate(std::string& out, store::ImapMessage& message);

}  // namespace kivimap::imap
