#include "imap/search_parser.h"

#include <algorithm>
#include <array>
#include <optional>

#include "common/ascii.h"
#include "imap/internal_date.h"
#include "imap/search_tokenizer.h"
#include "kivimap/interfaces.h"

namespace kivimap::imap {

namespace {

// The keys that take no argument and test flags only.
struct FlagKey {
  std::string_view name;
  std::int32_t set;
  std::int32_t clear;
};
// clang-format off
constexpr FlagKey kFlagKeys[] = {
    {"ALL", 0, 0},
    {"ANSWERED", Answered, 0}, {"UNANSWERED", 0, Answered},
    {"DELETED", Deleted, 0},   {"UNDELETED", 0, Deleted},
    {"DRAFT", Draft, 0},       {"UNDRAFT", 0, Draft},
    {"FLAGGED", Flagged, 0},   {"UNFLAGGED", 0, Flagged},
    {"SEEN", Seen, 0},         {"UNSEEN", 0, Seen},
    {"RECENT", Recent, 0},     {"OLD", 0, Recent},
    {"NEW", Recent, Seen},
};
// clang-format on

// The keys that search one header field, and the field.
struct FieldKey {
  std::string_view name;
  std::string_view field;
};
constexpr FieldKey kFieldKeys[] = {
    {"FROM", "From"}, {"TO", "To"}, {"CC", "Cc"}, {"BCC", "Bcc"}, {"SUBJECT", "Subject"},
};

struct DateKey {
  std::string_view name;
  DateRelation relation;
  bool sent;
};
constexpr DateKey kDateKeys[] = {
    {"BEFORE", DateRelation::Before, false}, {"ON", DateRelation::On, false},
    {"SINCE", DateRelation::Since, false},   {"SENTBEFORE", DateRelation::Before, true},
    {"SENTON", DateRelation::On, true},      {"SENTSINCE", DateRelation::Since, true},
};

constexpr std::array<std::string_view, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "d-Mon-yyyy" or "dd-Mon-yyyy" (RFC 3501's date-text) as a day number; nothing when it is
// malformed or names a day its month does not have.
std::optional<std::int64_t> ReadDate(std::string_view text) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos || dash < 1 || dash > 2) return std::nullopt;
  const std::string_view day_text = text.substr(0, dash);
  const std::string_view rest = text.substr(dash + 1);
  if (rest.size() != 8 || rest[3] != '-' || !AllDigits(day_text) || !AllDigits(rest.substr(4))) {
    return std::nullopt;
  }
  const auto month = std::find(kMonths.begin(), kMonths.end(), AsciiUpper(rest.substr(0, 3)));
  if (month == kMonths.end()) return std::nullopt;
  const int day = std::stoi(std::string(day_text));
  const int month_number = static_cast<int>(month - kMonths.begin()) + 1;
  const int year = std::stoi(std::string(rest.substr(4)));
  if (day < 1) return std::nullopt;
  // A day past the month's end lands in the next month: the round trip tells.
  const std::int64_t number = DaysSinceEpoch(year, month_number, day);
  const MessageDate back = DateFromUnixTime(number * 86400);
  if (back.day != day || back.month != month_number) return std::nullopt;
  return number;
}

std::optional<std::uint32_t> ReadNumber(std::string_view text) {
  if (!AllDigits(text) || text.size() > 10) return std::nullopt;
  const std::uint64_t value = std::stoull(std::string(text));
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

bool HasEightBit(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

class Parser {
 public:
  explicit Parser(std::string_view arguments) : tokens_(arguments) {}

  SearchParse Parse() {
    SearchParse result;
    const SearchToken& first = tokens_.Peek();
    if (first.kind == SearchTokenKind::Atom && EqualsNoCase(first.text, "CHARSET")) {
      tokens_.Next();
      const std::optional<std::string> charset = String(false);
      if (!charset) return result;
      if (EqualsNoCase(*charset, "UTF-8")) {
        utf8_ = true;
      } else if (!EqualsNoCase(*charset, "US-ASCII")) {
        result.status = SearchParseStatus::BadCharset;
        return result;
      }
    }
    result.root.kind = SearchKeyKind::And;
    do {
      std::optional<SearchKey> key = Key(1);
      if (!key) return result;
      result.root.children.push_back(std::move(*key));
    } while (tokens_.Peek().kind != SearchTokenKind::End);
    Order(result.root);
    result.status = SearchParseStatus::Ok;
    return result;
  }

 private:
  // An atom or a quoted string; 8-bit only after CHARSET UTF-8.
  std::optional<std::string> String(bool eight_bit_allowed) {
    SearchToken token = tokens_.Next();
    if (token.kind != SearchTokenKind::Atom && token.kind != SearchTokenKind::Quoted) {
      return std::nullopt;
    }
    if (!eight_bit_allowed && HasEightBit(token.text)) return std::nullopt;
    return std::move(token.text);
  }
  std::optional<std::string> String() { return String(utf8_); }

  std::optional<SearchKey> Key(int depth) {
    if (depth > kMaxSearchDepth) return std::nullopt;
    SearchToken token = tokens_.Next();
    SearchKey key;
    if (token.kind == SearchTokenKind::Open) {
      key.kind = SearchKeyKind::And;
      do {
        std::optional<SearchKey> child = Key(depth + 1);
        if (!child) return std::nullopt;
        key.children.push_back(std::move(*child));
      } while (tokens_.Peek().kind != SearchTokenKind::Close);
      tokens_.Next();
      Order(key);
      return key;
    }
    if (token.kind != SearchTokenKind::Atom) return std::nullopt;
    const std::string name = AsciiUpper(token.text);
    if (name[0] == '*' || (name[0] >= '0' && name[0] <= '9')) {
      std::optional<SearchSet> set = SearchSet::Parse(name);
      if (!set) return std::nullopt;
      key.kind = SearchKeyKind::Sequence;
      key.set = std::move(*set);
      return key;
    }
    for (const FlagKey& flag : kFlagKeys) {
      if (name != flag.name) continue;
      key.set_flags = flag.set;
      key.clear_flags = flag.clear;
      return key;
    }
    for (const FieldKey& field : kFieldKeys) {
      if (name != field.name) continue;
      return HeaderKey(std::string(field.field));
    }
    for (const DateKey& date : kDateKeys) {
      if (name != date.name) continue;
      const std::optional<std::string> text = String(false);
      const std::optional<std::int64_t> day = text ? ReadDate(*text) : std::nullopt;
      if (!day) return std::nullopt;
      key.kind = SearchKeyKind::Date;
      key.relation = date.relation;
      key.sent = date.sent;
      key.day = *day;
      key.cost = SearchCost::Header;
      return key;
    }
    if (name == "HEADER") {
      std::optional<std::string> field = String();
      if (!field) return std::nullopt;
      return HeaderKey(std::move(*field));
    }
    if (name == "BODY" || name == "TEXT") {
      std::optional<std::string> text = String();
      if (!text) return std::nullopt;
      key.kind = name == "BODY" ? SearchKeyKind::Body : SearchKeyKind::Text;
      key.text = std::move(*text);
      key.cost = SearchCost::Body;
      return key;
    }
    if (name == "KEYWORD" || name == "UNKEYWORD") {
      const SearchToken keyword = tokens_.Next();
      if (keyword.kind != SearchTokenKind::Atom || HasEightBit(keyword.text)) return std::nullopt;
      if (name == "KEYWORD") key.kind = SearchKeyKind::Nothing;  // UNKEYWORD: every message
      return key;
    }
    if (name == "LARGER" || name == "SMALLER") {
      const SearchToken number = tokens_.Next();
      const std::optional<std::uint32_t> value =
          number.kind == SearchTokenKind::Atom ? ReadNumber(number.text) : std::nullopt;
      if (!value) return std::nullopt;
      key.kind = name == "LARGER" ? SearchKeyKind::Larger : SearchKeyKind::Smaller;
      key.number = *value;
      key.cost = SearchCost::Size;
      return key;
    }
    if (name == "UID") {
      const SearchToken set_text = tokens_.Next();
      std::optional<SearchSet> set =
          set_text.kind == SearchTokenKind::Atom ? SearchSet::Parse(set_text.text) : std::nullopt;
      if (!set) return std::nullopt;
      key.kind = SearchKeyKind::Uid;
      key.set = std::move(*set);
      return key;
    }
    if (name == "NOT") {
      std::optional<SearchKey> child = Key(depth + 1);
      if (!child) return std::nullopt;
      key.kind = SearchKeyKind::Not;
      key.cost = child->cost;
      key.children.push_back(std::move(*child));
      return key;
    }
    if (name == "OR") {
      std::optional<SearchKey> first = Key(depth + 1);
      if (!first) return std::nullopt;
      std::optional<SearchKey> second = Key(depth + 1);
      if (!second) return std::nullopt;
      key.kind = SearchKeyKind::Or;
      key.cost = std::max(first->cost, second->cost);
      key.children.push_back(std::move(*first));
      key.children.push_back(std::move(*second));
      return key;
    }
    return std::nullopt;
  }

  std::optional<SearchKey> HeaderKey(std::string field) {
    std::optional<std::string> text = String();
    if (!text) return std::nullopt;
    SearchKey key;
    key.kind = SearchKeyKind::HeaderField;
    key.field = std::move(field);
    key.text = std::move(*text);
    key.cost = SearchCost::Header;
    return key;
  }

  // Cheapest keys first (the order of equal ones kept), and the And costs what its dearest
  // key does.
  static void Order(SearchKey& and_key) {
    std::stable_sort(and_key.children.begin(), and_key.children.end(),
                     [](const SearchKey& a, const SearchKey& b) { return a.cost < b.cost; });
    and_key.cost = and_key.children.empty() ? SearchCost::Flags : and_key.children.back().cost;
  }

  SearchTokenizer tokens_;
  bool utf8_ = false;
};

}  // namespace

SearchParse ParseSearch(std::string_view arguments) { return Parser(arguments).Parse(); }

}  // namespace kivimap::imap
