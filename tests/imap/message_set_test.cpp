#include "imap/message_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kivimap::imap {
namespace {

using Positions = std::vector<std::uint32_t>;  // zero-based: message 1 is 0

Ref<store::ImapMessages> FolderWithUids(const std::vector<std::uint32_t>& uids) {
  Ref<store::ImapMessages> messages = store::ImapMessages::Create();
  for (const std::uint32_t uid : uids) messages->AddNew()->SetUid(static_cast<std::int32_t>(uid));
  return messages;
}

Ref<store::ImapMessages> FolderOfSize(std::size_t count) {
  return FolderWithUids(std::vector<std::uint32_t>(count, 1));
}

Positions Select(std::string_view set, bool by_uid, const store::ImapMessages& messages) {
  Positions list = {99};  // whatever a previous command left
  EXPECT_EQ(ParseMessageSet(set, by_uid, messages, &list), MessageSetResult::Ok) << set;
  return list;
}

TEST(SplitAtCharTest, EmptyPiecesAreDroppedAndTheCountCaps) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(SplitAtChar(",1,,2,", ',', 8), (Pieces{"1", "2"}));
  EXPECT_EQ(SplitAtChar("1:2:3", ':', 2), (Pieces{"1", "2"}));
  EXPECT_EQ(SplitAtChar(std::string_view("1,2\0,3", 6), ',', 8), (Pieces{"1", "2"}));
}

struct SetCase {
  std::string_view set;
  Positions expected;
};

TEST(ParseMessageSetTest, SequenceNumbers) {
  const Ref<store::ImapMessages> three = FolderOfSize(3);
  const SetCase cases[] = {
      // Stars: a lone one selects all and ends the set; "*:*" does not end it.
      {"*", {0, 1, 2}},
      {"2,*", {1, 0, 1, 2}},
      {"*,2", {0, 1, 2}},
      {"*x,2", {0, 1, 2}},
      {"*:*,2", {0, 1, 2, 1}},
      {"*:2", {0, 1}},
      {"2:*", {1, 2}},
      {"3:1", {}},
      // Signed comparison and forgiving numbers that wrap modulo 2^32.
      {"0", {}},
      {"abc", {}},
      {"0:3", {0, 1, 2}},
      {"-5:3", {0, 1, 2}},
      {"2:4294967295", {}},
      {"4294967298", {1}},
      {"+2,-1, 3", {1, 2}},
      // Duplicates stay; stray colons and commas.
      {"1,1:2", {0, 0, 1}},
      {":3", {2}},
      {"1:2:3", {0, 1}},
      {":::,,3", {2}},
  };
  for (const auto& c : cases) EXPECT_EQ(Select(c.set, false, *three), c.expected) << c.set;
}

TEST(ParseMessageSetTest, Uids) {
  const Ref<store::ImapMessages> folder = FolderWithUids({5, 0, 5, 4294967295u, 9});
  const SetCase cases[] = {
      {"5", {0}},  // only the first message that carries it
      {"5:5", {0, 2}},    {"abc", {1}},           {"4294967295", {3}},
      {"-1", {3}},        {"6:*", {3, 4}},  // unsigned: the largest UID is above 6
      {"*:5", {0, 1, 2}}, {"*", {0, 1, 2, 3, 4}}, {"9,5", {4, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(Select(c.set, true, *folder), c.expected) << c.set;
}

TEST(ParseMessageSetTest, EmptyFolderSelectsNothing) {
  const Ref<store::ImapMessages> empty = FolderOfSize(0);
  for (const std::string_view set : {"*", "*:*", "1:*", "*:1", "1"}) {
    EXPECT_EQ(Select(set, false, *empty), Positions{}) << set;
    EXPECT_EQ(Select(set, true, *empty), Positions{}) << set;
  }
}

TEST(ParseMessageSetTest, LongSetIsReadWholeUpToThePieceLimit) {
  std::string set;
  for (std::size_t i = 0; i < kMaxSetPieces; ++i) set.append("3,");
  set.append("1");  // one piece too many: ignored
  EXPECT_EQ(Select(set, false, *FolderOfSize(3)), Positions(kMaxSetPieces, 2));
}

TEST(ParseMessageSetTest, WorkListCap) {
  const Ref<store::ImapMessages> folder = FolderOfSize(1000);
  std::string set = "1:*";
  for (std::size_t i = 1; i < kMaxWorkListEntries / 1000; ++i) set.append(",1:*");
  for (const bool by_uid : {false, true}) {
    Positions list;
    EXPECT_EQ(ParseMessageSet(set, by_uid, *folder, &list), MessageSetResult::Ok);
    EXPECT_EQ(list.size(), kMaxWorkListEntries);
    EXPECT_EQ(ParseMessageSet(set + ",1", by_uid, *folder, &list), MessageSetResult::TooLarge);
    EXPECT_TRUE(list.empty()) << "no partial selection is left to serve";
  }
}

TEST(ParseMessageSetTest, HostileSetStopsAtTheCap) {
  std::string set;
  for (std::size_t i = 0; i < kMaxSetPieces; ++i) set.append("1:*,");
  Positions list;
  EXPECT_EQ(ParseMessageSet(set, false, *FolderOfSize(30000), &list), MessageSetResult::TooLarge);
  EXPECT_LE(list.capacity(), 2 * kMaxWorkListEntries);
}

}  // namespace
}  // namespace kivimap::imap
