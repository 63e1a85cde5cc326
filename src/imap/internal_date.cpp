#include "imap/internal_date.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>

#include "common/ascii.h"
#include "store/header.h"

namespace kivimap::imap {

namespace {

constexpr std::array<std::string_view, 7> kDayNames = {
    "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
constexpr std::array<std::string_view, 12> kMonthNames = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
constexpr std::array<const char*, 12> kMonthAbbreviations = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The obsolete zone names RFC 2822 (4.3) gives a meaning; any other name means an unknown zone,
// which it writes -0000 and we +0000.
struct NamedZone {
  std::string_view name;
  int minutes;
};
// clang-format off
constexpr std::array<NamedZone, 10> kNamedZones = {{
    {"ut", 0}, {"gmt", 0}, {"est", -5 * 60}, {"edt", -4 * 60}, {"cst", -6 * 60},
    {"cdt", -5 * 60}, {"mst", -7 * 60}, {"mdt", -6 * 60}, {"pst", -8 * 60}, {"pdt", -7 * 60}}};
// clang-format on

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsFoldingSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A word names one of names when it has at least three letters and begins that name: "Jul",
// "July" and "Sept" all do.
std::optional<int> IndexOfName(std::string_view word, std::span<const std::string_view> names) {
  if (word.size() < 3) return std::nullopt;
  const std::string lower = AsciiLower(word);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].starts_with(lower)) return static_cast<int>(i);
  }
  return std::nullopt;
}

// Reads a date-time from left to right. A mismatch ends the whole parse, so no step undoes
// what it consumed.
class DateReader {
 public:
  explicit DateReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  // Skips folding white space; true when there was any.
  bool SkipSpace() {
    const std::size_t start = pos_;
    while (!AtEnd() && IsFoldingSpace(text_[pos_])) ++pos_;
    return pos_ != start;
  }
  bool Consume(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  // Between the date's parts: white space, or a "-" as in "1-Jul-2003".
  bool DateSeparator() {
    const bool spaced = SkipSpace();
    return Consume('-') ? (SkipSpace(), true) : spaced;
  }
  std::string_view Word() {
    const std::size_t start = pos_;
    while (!AtEnd() && IsLetter(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  // A run of min_count to max_count digits (a longer run fails), with its count.
  std::optional<int> Number(std::size_t min_count, std::size_t max_count,
                            std::size_t* count = nullptr) {
    std::size_t end = pos_;
    while (end < text_.size() && IsDigit(text_[end])) ++end;
    const std::size_t digits = end - pos_;
    if (digits < min_count || digits > max_count) return std::nullopt;
    int value = 0;
    for (; pos_ < end; ++pos_) value = value * 10 + (text_[pos_] - '0');
    if (count) *count = digits;
    return value;
  }
  // Comments, nested or not, and white space up to the end; an unclosed comment runs to the
  // end. False when anything else follows.
  bool OnlyCommentsLeft() {
    for (SkipSpace(); Consume('('); SkipSpace()) {
      for (int depth = 1; depth > 0 && !AtEnd(); ++pos_) {
        if (text_[pos_] == '\\') {
          ++pos_;
          if (AtEnd()) break;
        } else if (text_[pos_] == '(') {
          ++depth;
        } else if (text_[pos_] == ')') {
          --depth;
        }
      }
    }
    return AtEnd();
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

std::optional<int> ReadYear(DateReader& reader) {
  std::size_t digits = 0;
  const auto year = reader.Number(2, 4, &digits);
  if (!year) return std::nullopt;
  if (digits == 2) return *year < 50 ? 2000 + *year : 1900 + *year;  // RFC 2822, 4.3
  if (digits == 3) return 1900 + *year;
  return year;
}

// The zone after the time; a missing one is +0000.
std::optional<int> ReadZone(DateReader& reader) {
  const char sign = reader.Peek();
  if (sign == '+' || sign == '-') {
    reader.Consume(sign);
    const auto hhmm = reader.Number(4, 4);
    if (!hhmm || *hhmm % 100 > 59) return std::nullopt;
    const int minutes = *hhmm / 100 * 60 + *hhmm % 100;
    return sign == '-' ? -minutes : minutes;
  }
  const std::string name = AsciiLower(reader.Word());
  for (const NamedZone& zone : kNamedZones) {
    if (zone.name == name) return zone.minutes;
  }
  return 0;
}

}  // namespace

std::optional<MessageDate> ParseDateField(std::string_view value) {
  DateReader reader(value);
  reader.SkipSpace();
  if (IsLetter(reader.Peek())) {
    if (!IndexOfName(reader.Word(), kDayNames)) return std::nullopt;
    reader.SkipSpace();
    reader.Consume(',');
    reader.SkipSpace();
  }
  MessageDate date{};
  const auto day = reader.Number(1, 2);
  if (!day || !reader.DateSeparator()) return std::nullopt;
  const auto month = IndexOfName(reader.Word(), kMonthNames);
  if (!month || !reader.DateSeparator()) return std::nullopt;
  const auto year = ReadYear(reader);
  if (!year || !reader.SkipSpace()) return std::nullopt;
  const auto hour = reader.Number(1, 2);
  if (!hour || !reader.Consume(':')) return std::nullopt;
  const auto minute = reader.Number(2, 2);
  if (!minute) return std::nullopt;
  std::optional<int> second = 0;
  if (reader.Consume(':')) second = reader.Number(2, 2);
  if (!second) return std::nullopt;
  reader.SkipSpace();
  const auto zone = ReadZone(reader);
  if (!zone || !reader.OnlyCommentsLeft()) return std::nullopt;

  date.year = *year;
  date.month = *month + 1;
  date.day = *day;
  date.hour = *hour;
  date.minute = *minute;
  date.second = *second;
  date.zone_minutes = *zone;
  if (date.day < 1 || date.day > DaysInMonth(date.year, date.month) || date.hour > 23 ||
      date.minute > 59 || date.second > 60) {
    return std::nullopt;
  }
  return date;
}

// The day-number conversions follow Howard Hinnant's public-domain "chrono-compatible low-level
// date algorithms": eras of 400 years, with March as the first month of the computed year.
std::int64_t DaysSinceEpoch(int year, int month, int day) {
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t year_of_era = y - era * 400;
  const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

MessageDate DateFromUnixTime(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 is March
  MessageDate date{};
  date.day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  date.month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  date.year = static_cast<int>(year_of_era + era * 400 + (date.month <= 2 ? 1 : 0));
  date.hour = static_cast<int>(rest / 3600);
  date.minute = static_cast<int>(rest / 60 % 60);
  date.second = static_cast<int>(rest % 60);
  date.zone_minutes = 0;
  return date;
}

std::optional<MessageDate> MessageInternalDate(store::ImapMessage& message) {
  if (const store::ImapMessageHeader* field = message.FindHeader("Date")) {
    if (auto date = ParseDateField(field->value())) return date;
  }
  const std::string path = message.Filename().ToNarrow();
  // A name with a NUL in it would reach stat() cut short, naming another file.
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return DateFromUnixTime(status.st_mtim.tv_sec);
}

std::string FormatInternalDate(const MessageDate& date) {
  const int year = std::clamp(date.year, 0, 9999);
  const int month = std::clamp(date.month, 1, 12);
  const int zone = std::clamp(date.zone_minutes, -(99 * 60 + 59), 99 * 60 + 59);
  const int zone_size = zone < 0 ? -zone : zone;
  char text[64];
  std::snprintf(text, sizeof text, "%2d-%s-%04d %02d:%02d:%02d %c%02d%02d",
                std::clamp(date.day, 1, DaysInMonth(year, month)), kMonthAbbreviations[month - 1],
                year, std::clamp(date.hour, 0, 23), std::clamp(date.minute, 0, 59),
                std::clamp(date.second, 0, 60), zone < 0 ? '-' : '+', zone_size / 60,
                zone_size % 60);
  return text;
}

void AppendInternalDate(std::string& out, store::ImapMessage& message) {
  const MessageDate date = MessageInternalDate(message).value_or(DateFromUnixTime(0));
  out.append("\"").append(FormatInternalDate(date)).append("\"");
}

}  // namespace kivimap::imap
