#include "imap/search_set.h"

#include <algorithm>

namespace kivimap::imap {

namespace {

constexpr std::uint32_t kStar = 0;

// nz-number (up to 4294967295) or "*".
std::optional<std::uint32_t> ReadNumber(std::string_view text) {
  if (text == "*") return kStar;
  if (text.empty() || text.size() > 10 || text[0] < '1' || text[0] > '9') return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<SearchSet> SearchSet::Parse(std::string_view text) {
  SearchSet set;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view piece = text.substr(start, comma - start);
    const std::size_t colon = piece.find(':');
    const auto first = ReadNumber(piece.substr(0, colon));
    if (!first) return std::nullopt;
    std::optional<std::uint32_t> last = first;
    if (colon != std::string_view::npos) last = ReadNumber(piece.substr(colon + 1));
    if (!last) return std::nullopt;
    set.written_.push_back({*first, *last});
    if (comma == text.size()) return set;
    start = comma + 1;
  }
}

void SearchSet::Resolve(std::optional<std::uint32_t> highest) {
  resolved_.clear();
  if (!highest) return;
  resolved_.reserve(written_.size());
  for (Range range : written_) {
    if (range.first == kStar) range.first = *highest;
    if (range.last == kStar) range.last = *highest;
    if (range.first > range.last) std::swap(range.first, range.last);
    resolved_.push_back(range);
  }
  std::sort(resolved_.begin(), resolved_.end(),
            [](const Range& a, const Range& b) { return a.first < b.first; });
  std::size_t kept = 0;
  for (const Range& range : resolved_) {
    if (kept > 0 && static_cast<std::uint64_t>(range.first) <=
                        static_cast<std::uint64_t>(resolved_[kept - 1].last) + 1) {
      resolved_[kept - 1].last = std::max(resolved_[kept - 1].last, range.last);
    } else {
      resolved_[kept++] = range;
    }
  }
  resolved_.resize(kept);
}

bool SearchSet::Contains(std::uint32_t number) const {
  // The first range that starts after number; the one before it is the only candidate.
  const auto after =
      std::upper_bound(resolved_.begin(), resolved_.end(), number,
                       [](std::uint32_t n, const Range& range) { return n < range.first; });
  return after != resolved_.begin() && number <= std::prev(after)->last;
}

}  // namespace kivimap::imap
