#include "imap/message_set.h"

#include <algorithm>
#include <limits>

#include "imap/protocol_numbers.h"

namespace kivimap::imap {

namespace {

// Both numberings fit in 64 bits with their own order: sequence numbers as signed 32-bit
// values, UIDs as unsigned ones. A star bound is one that every number passes.
constexpr std::int64_t kNoLowerBound = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kNoUpperBound = std::numeric_limits<std::int64_t>::max();

// A part is a star when it begins with "*", whatever follows ("*x" counts).
bool IsStar(std::string_view part) { return !part.empty() && part.front() == '*'; }

// Appends to the work list under its cap. Each call returns false once the cap would be passed.
class Selection {
 public:
  Selection(bool by_uid, const store::ImapMessages& messages, std::vector<std::uint32_t>& list)
      : by_uid_(by_uid), messages_(messages), list_(list) {}

  std::int64_t Read(std::string_view part) const {
    const std::uint32_t number = ReadSetNumber(part);
    return by_uid_ ? std::int64_t{number} : std::int64_t{static_cast<std::int32_t>(number)};
  }

  // The first message whose number is number.
  bool AddFirst(std::int64_t number) {
    if (!by_uid_) return AddPositions(number, number);
    for (std::size_t i = 0; i < messages_.size(); ++i) {
      if (UidAt(i) == number) return Add(i);
    }
    return true;
  }

  // Every message whose number lies in [low, high], in folder order.
  bool AddRange(std::int64_t low, std::int64_t high) {
    if (!by_uid_) return AddPositions(low, high);
    for (std::size_t i = 0; i < messages_.size(); ++i) {
      const std::int64_t uid = UidAt(i);
      if (uid >= low && uid <= high && !Add(i)) return false;
    }
    return true;
  }

 private:
  std::int64_t UidAt(std::size_t i) const {
    return std::int64_t{static_cast<std::uint32_t>(messages_.at(i)->Uid())};
  }

  bool Add(std::size_t position) {
    if (list_.size() >= kMaxWorkListEntries) return false;
    list_.push_back(static_cast<std::uint32_t>(position));
    return true;
  }

  // Sequence number s is position s - 1, so a range is a run of positions: no walk needed.
  bool AddPositions(std::int64_t low, std::int64_t high) {
    const std::int64_t first = std::max<std::int64_t>(low, 1);
    const std::int64_t last = std::min(high, static_cast<std::int64_t>(messages_.size()));
    if (first > last) return true;
    if (static_cast<std::size_t>(last - first + 1) > kMaxWorkListEntries - list_.size()) {
      return false;
    }
    for (std::int64_t s = first; s <= last; ++s) list_.push_back(static_cast<std::uint32_t>(s - 1));
    return true;
  }

  const bool by_uid_;
  const store::ImapMessages& messages_;
  std::vector<std::uint32_t>& list_;
};

}  // namespace

std::vector<std::string_view> SplitAtChar(std::string_view text, char separator,
                                          std::size_t max_count) {
  std::vector<std::string_view> pieces;
  text = text.substr(0, text.find('\0'));
  std::size_t start = 0;
  for (std::size_t pos = 0; pos <= text.size() && pieces.size() < max_count; ++pos) {
    if (pos < text.size() && text[pos] != separator) continue;
    if (pos > start) pieces.push_back(text.substr(start, pos - start));
    start = pos + 1;
  }
  return pieces;
}

MessageSetResult ParseMessageSet(std::string_view set_text, bool by_uid,
                                 const store::ImapMessages& messages,
                                 std::vector<std::uint32_t>* work_list) {
  work_list->clear();
  Selection selection(by_uid, messages, *work_list);
  for (const std::string_view piece : SplitAtChar(set_text, ',', kMaxSetPieces)) {
    // "5:" and ":5" read as "5"; "1:2:3" as "1:2"; a piece of colons alone has no parts.
    const std::vector<std::string_view> parts = SplitAtChar(piece, ':', 2);
    bool fits = true;
    bool last_piece = false;
    if (parts.size() == 1 && IsStar(parts[0])) {
      fits = selection.AddRange(kNoLowerBound, kNoUpperBound);
      last_piece = true;
    } else if (parts.size() == 1) {
      fits = selection.AddFirst(selection.Read(parts[0]));
    } else if (parts.size() == 2) {
      const std::int64_t low = IsStar(parts[0]) ? kNoLowerBound : selection.Read(parts[0]);
      const std::int64_t high = IsStar(parts[1]) ? kNoUpperBound : selection.Read(parts[1]);
      fits = selection.AddRange(low, high);
    }
    if (!fits) {
      // A partial list must not be served as if it were the answer.
      work_list->clear();
      return MessageSetResult::TooLarge;
    }
    if (last_piece) break;
  }
  return MessageSetResult::Ok;
}

}  // namespace kivimap::imap
