#include "imap/search_evaluator.h"

#include <algorithm>

#include "imap/fetch_sections.h"
#include "imap/internal_date.h"
#include "imap/search_finder.h"
#include "imap/search_text.h"
#include "store/header.h"

namespace kivimap::imap {

namespace {

enum class Verdict { No, Yes, Stop };

Verdict Of(bool match) { return match ? Verdict::Yes : Verdict::No; }

bool DayMatches(std::int64_t day, const SearchKey& key) {
  switch (key.relation) {
    case DateRelation::Before:
      return day < key.day;
    case DateRelation::On:
      return day == key.day;
    case DateRelation::Since:
      return day >= key.day;
  }
  return false;
}

// Settles "*" in every set of the tree.
void ResolveSets(SearchKey& key, std::optional<std::uint32_t> highest_sequence,
                 std::optional<std::uint32_t> highest_uid) {
  if (key.kind == SearchKeyKind::Sequence) key.set.Resolve(highest_sequence);
  if (key.kind == SearchKeyKind::Uid) key.set.Resolve(highest_uid);
  for (SearchKey& child : key.children) ResolveSets(child, highest_sequence, highest_uid);
}

// One message under test.
class MessageTest {
 public:
  MessageTest(store::ImapMessage& message, std::uint32_t sequence, const BeforeRead& before_read)
      : message_(message), sequence_(sequence), before_read_(before_read) {}

  Verdict Test(const SearchKey& key) {
    switch (key.kind) {
      case SearchKeyKind::Flags: {
        const std::int32_t flags = message_.Flags();
        return Of((flags & key.set_flags) == key.set_flags && (flags & key.clear_flags) == 0);
      }
      case SearchKeyKind::Nothing:
        return Verdict::No;
      case SearchKeyKind::Sequence:
        return Of(key.set.Contains(sequence_));
      case SearchKeyKind::Uid:
        return Of(key.set.Contains(static_cast<std::uint32_t>(message_.Uid())));
      case SearchKeyKind::Not: {
        const Verdict inner = Test(key.children[0]);
        return inner == Verdict::Stop ? inner : Of(inner == Verdict::No);
      }
      case SearchKeyKind::Or: {
        // The cheaper side first: when it matches, the other is never looked at.
        const bool swap = key.children[1].cost < key.children[0].cost;
        const Verdict first = Test(key.children[swap ? 1 : 0]);
        return first != Verdict::No ? first : Test(key.children[swap ? 0 : 1]);
      }
      case SearchKeyKind::And:
        for (const SearchKey& child : key.children) {
          const Verdict verdict = Test(child);
          if (verdict != Verdict::Yes) return verdict;
        }
        return Verdict::Yes;
      default:
        break;
    }
    if (!file_ready_) {
      if (!before_read_(message_)) return Verdict::Stop;
      file_ready_ = true;
    }
    return Of(TestFile(key));
  }

 private:
  bool TestFile(const SearchKey& key) {
    switch (key.kind) {
      case SearchKeyKind::Larger:
        return ExtentOf(message_).size() > key.number;
      case SearchKeyKind::Smaller:
        return ExtentOf(message_).size() < key.number;
      case SearchKeyKind::Date: {
        if (!key.sent) {
          // The date FETCH INTERNALDATE reports, the start of 1970 when there is none.
          const MessageDate date = MessageInternalDate(message_).value_or(DateFromUnixTime(0));
          return DayMatches(CalendarDay(date), key);
        }
        const store::ImapMessageHeader* field = message_.FindHeader("Date");
        const std::optional<MessageDate> date =
            field ? ParseDateField(field->value()) : std::nullopt;
        return date && DayMatches(CalendarDay(*date), key);
      }
      case SearchKeyKind::HeaderField: {
        TextFinder finder(key.text);
        return HeaderFieldContains(message_, key.field, finder);
      }
      case SearchKeyKind::Body: {
        TextFinder finder(key.text);
        return BodyContains(message_, finder);
      }
      case SearchKeyKind::Text: {
        TextFinder finder(key.text);
        return HeaderContains(message_, finder) || BodyContains(message_, finder);
      }
      default:
        return false;
    }
  }

  store::ImapMessage& message_;
  std::uint32_t sequence_;
  const BeforeRead& before_read_;
  bool file_ready_ = false;
};

}  // namespace

std::optional<std::vector<std::uint32_t>> SearchMessages(
    SearchKey& root, std::span<const Ref<store::ImapMessage>> messages, bool by_uid,
    const BeforeRead& before_read) {
  std::optional<std::uint32_t> highest_sequence;
  std::optional<std::uint32_t> highest_uid;
  if (!messages.empty()) {
    highest_sequence = static_cast<std::uint32_t>(messages.size());
    highest_uid = 0;
    for (const Ref<store::ImapMessage>& message : messages) {
      highest_uid = std::max(*highest_uid, static_cast<std::uint32_t>(message->Uid()));
    }
  }
  ResolveSets(root, highest_sequence, highest_uid);

  std::vector<std::uint32_t> found;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    store::ImapMessage& message = *messages[i];
    const auto sequence = static_cast<std::uint32_t>(i + 1);
    const Verdict verdict = MessageTest(message, sequence, before_read).Test(root);
    if (verdict == Verdict::Stop) return std::nullopt;
    if (verdict == Verdict::Yes) {
      found.push_back(by_uid ? static_cast<std::uint32_t>(message.Uid()) : sequence);
    }
  }
  if (by_uid) {
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
  }
  return found;
}

}  // namespace kivimap::imap
