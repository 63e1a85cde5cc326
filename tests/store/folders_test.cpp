// Folders and folder collections: lookups, removals, paths, UIDs and the plain properties.
#include "store/folders.h"

#include <set>
#include <thread>
#include <vector>

#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::W;

std::int64_t FixedClock() { return 1'700'000'000; }

// Holds the folder clock still for one test, so that UIDs do not depend on the second.
class FixedFolderClock {
 public:
  FixedFolderClock() : previous_(SetFolderClock(&FixedClock)) {}
  ~FixedFolderClock() { SetFolderClock(previous_); }

 private:
  FolderClock previous_;
};

Ref<IImapFolder> Item(ImapFolders& folders, const Variant& id, Status* status) {
  Ref<IImapFolder> out;
  *status = folders.get_Item(id, &out);
  return out;
}

std::string NameOf(IImapFolder* folder) {
  WideString name;
  EXPECT_EQ(folder->get_Name(&name), StatusOk);
  return N(name);
}

std::string PathOf(IImapFolder* folder) {
  WideString path;
  EXPECT_EQ(folder->get_Path(&path), StatusOk);
  return N(path);
}

TEST(ImapFoldersTest, IndexLookupsRejectEverythingOutOfRange) {
  Ref<ImapFolders> folders = ImapFolders::Create();
  Status s;
  Item(*folders, Variant(std::int16_t{0}), &s);
  EXPECT_EQ(s, StatusInvalidArg);

  for (const char* name : {"a", "b", "c"}) ASSERT_EQ(folders->Add(W(name), nullptr), StatusOk);
  std::int16_t count = 0;
  ASSERT_EQ(folders->get_Count(&count), StatusOk);
  EXPECT_EQ(count, 3);

  Item(*folders, Variant(std::int16_t{-1}), &s);
  EXPECT_EQ(s, StatusInvalidArg);
  Item(*folders, Variant(std::int32_t{3}), &s);
  EXPECT_EQ(s, StatusInvalidArg);

  EXPECT_EQ(NameOf(Item(*folders, Variant(std::int16_t{1}), &s).get()), "b");
  EXPECT_EQ(s, StatusOk);
  std::int32_t two = 2;
  EXPECT_EQ(NameOf(Item(*folders, Variant::ByRef(&two), &s).get()), "c");
  EXPECT_EQ(s, StatusOk);

  // Only integers and strings name an entry; a real number or nothing at all does not.
  Item(*folders, Variant(1.0), &s);
  EXPECT_EQ(s, StatusInvalidArg);
  Item(*folders, Variant(), &s);
  EXPECT_EQ(s, StatusInvalidArg);
  // A null result pointer is accepted.
  EXPECT_EQ(folders->get_Item(Variant(std::int16_t{0}), nullptr), StatusOk);
}

TEST(ImapFoldersTest, NameLookupIsExactAndTheFirstMatchWins) {
  Ref<ImapFolders> folders = ImapFolders::Create();
  Ref<IImapFolder> inbox, first, second;
  ASSERT_EQ(folders->Add(W("INBOX"), &inbox), StatusOk);
  ASSERT_EQ(folders->Add(W("Dup"), &first), StatusOk);
  ASSERT_EQ(folders->Add(W("Dup"), &second), StatusOk);

  Status s;
  Item(*folders, Variant(W("inbox")), &s);
  EXPECT_EQ(s, StatusInvalidArg);
  Item(*folders, Variant(W("INBOX ")), &s);
  EXPECT_EQ(s, StatusInvalidArg);
  WideString name = W("Dup");
  EXPECT_EQ(Item(*folders, Variant::ByRef(&name), &s), first);

  ASSERT_EQ(folders->Remove(Variant(W("Dup"))), StatusOk);
  EXPECT_EQ(Item(*folders, Variant(W("Dup")), &s), second);
  std::int16_t count = 0;
  folders->get_Count(&count);
  EXPECT_EQ(count, 2);
}

TEST(ImapFoldersTest, AnAbsentNameIsDifferentFromAnEmptyOne) {
  Ref<ImapFolders> folders = ImapFolders::Create();
  Ref<IImapFolder> unnamed, empty;
  folders->Add(WideString::Null(), &unnamed);
  folders->Add(W(""), &empty);
  Status s;
  EXPECT_EQ(Item(*folders, Variant(W("")), &s), empty);
  EXPECT_EQ(Item(*folders, Variant(WideString::Null()), &s), unnamed);
  // Both read back as an empty name.
  WideString got;
  unnamed->get_Name(&got);
  EXPECT_FALSE(got.IsNull());
  EXPECT_TRUE(got.empty());
}

TEST(ImapFoldersTest, RemoveClosesTheGapAndMatchesObjectsByIdentity) {
  Ref<ImapFolders> folders = ImapFolders::Create();
  Ref<IImapFolder> a, b1, b2;
  folders->Add(W("a"), &a);
  folders->Add(W("b"), &b1);
  folders->Add(W("b"), &b2);

  // The second "b" goes, although the first has the same name.
  ASSERT_EQ(folders->Remove(Variant(static_cast<IDispatch*>(b2.get()))), StatusOk);
  Status s;
  EXPECT_EQ(Item(*folders, Variant(std::int16_t{1}), &s), b1);

  ASSERT_EQ(folders->Remove(Variant(std::int16_t{0})), StatusOk);
  EXPECT_EQ(Item(*folders, Variant(std::int16_t{0}), &s), b1);

  // Unmatched objects, other kinds of objects, bad indexes and types change nothing.
  Ref<IImapFolder> stranger;
  ASSERT_EQ(CreateImapFolder(&stranger), StatusOk);
  Ref<IImapMessages> not_a_folder;
  ASSERT_EQ(CreateImapMessages(&not_a_folder), StatusOk);
  EXPECT_EQ(folders->Remove(Variant(static_cast<IDispatch*>(stranger.get()))), StatusInvalidArg);
  EXPECT_EQ(folders->Remove(Variant(static_cast<IDispatch*>(not_a_folder.get()))),
            StatusInvalidArg);
  EXPECT_EQ(folders->Remove(Variant(static_cast<IDispatch*>(nullptr))), StatusInvalidArg);
  EXPECT_EQ(folders->Remove(Variant(std::int16_t{1})), StatusInvalidArg);
  EXPECT_EQ(folders->Remove(Variant(true)), StatusInvalidArg);
  EXPECT_EQ(folders->Remove(Variant(W("nope"))), StatusInvalidArg);
  std::int16_t count = 0;
  folders->get_Count(&count);
  EXPECT_EQ(count, 1);

  ASSERT_EQ(folders->RemoveAll(), StatusOk);
  folders->get_Count(&count);
  EXPECT_EQ(count, 0);
}

TEST(ImapFoldersTest, ARemovedFolderLivesOnWhileHeld) {
  Ref<ImapFolders> folders = ImapFolders::Create();
  Ref<IImapFolder> kept;
  folders->Add(W("Kept"), &kept);
  Ref<IImapMessages> messages;
  kept->get_Messages(&messages);
  messages->Add(Variant(), nullptr);
  ASSERT_EQ(folders->RemoveAll(), StatusOk);

  EXPECT_EQ(NameOf(kept.get()), "Kept");
  std::int16_t count = 0;
  messages->get_Count(&count);
  EXPECT_EQ(count, 1);
  // It keeps its link to the collection, which no longer lists it.
  EXPECT_EQ(ImapFolder::FromInterface(kept.get())->ParentCollection(), folders.get());
  EXPECT_EQ(PathOf(kept.get()), "/Kept");
}

TEST(ImapFolderTest, PathsJoinTheNamesFromTheTop) {
  Ref<ImapFolders> root = ImapFolders::Create();
  Ref<IImapFolder> a, b, c, inbox;
  root->Add(W("INBOX"), &inbox);
  root->Add(W("a"), &a);
  Ref<IImapFolders> under_a, under_b;
  a->get_SubFolders(&under_a);
  under_a->Add(W("b"), &b);
  b->get_SubFolders(&under_b);
  under_b->Add(W("c"), &c);

  EXPECT_EQ(PathOf(inbox.get()), "/INBOX");
  EXPECT_EQ(PathOf(c.get()), "/a/b/c");

  // Renaming a parent shows in its children's paths; a "/" in a name is not escaped.
  a->put_Name(W("x/y"));
  EXPECT_EQ(PathOf(c.get()), "/x/y/b/c");

  Ref<IImapFolder> own;
  ASSERT_EQ(CreateImapFolder(&own), StatusOk);
  EXPECT_EQ(PathOf(own.get()), "/");
  own->put_Name(W("Mine"));
  EXPECT_EQ(PathOf(own.get()), "/Mine");
  // A host-created folder's children hang below it.
  Ref<IImapFolders> own_children;
  own->get_SubFolders(&own_children);
  Ref<IImapFolder> child;
  own_children->Add(W("Child"), &child);
  EXPECT_EQ(PathOf(child.get()), "/Mine/Child");
}

TEST(ImapFolderTest, FoldersCreatedInOneSecondGetDistinctRisingUids) {
  FixedFolderClock clock;
  Ref<ImapFolders> folders = ImapFolders::Create();
  Ref<IImapFolder> first, last;
  folders->Add(W("first"), &first);
  Ref<IImapFolder> between;
  ASSERT_EQ(CreateImapFolder(&between), StatusOk);  // host-created folders count too
  folders->Add(W("second"), nullptr);
  folders->Add(W("last"), &last);

  std::int32_t first_uid = 0, last_uid = 0;
  first->get_UID(&first_uid);
  last->get_UID(&last_uid);
  EXPECT_GE(first_uid, FixedClock());
  EXPECT_EQ(last_uid, first_uid + 3);

  last->put_UID(42);
  last->get_UID(&last_uid);
  EXPECT_EQ(last_uid, 42);
}

TEST(ImapFolderTest, FolderUidsStayDistinctAcrossThreads) {
  FixedFolderClock clock;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::vector<std::vector<std::int32_t>> uids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&uids, t] {
      for (int i = 0; i < kPerThread; ++i) uids[t].push_back(ImapFolder::Create()->Uid());
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::int32_t> distinct;
  for (const auto& list : uids) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kPerThread));
}

TEST(ImapFolderTest, PlainPropertiesKeepWhatTheHostSets) {
  Ref<IImapFolder> folder;
  ASSERT_EQ(CreateImapFolder(&folder), StatusOk);

  std::int32_t next = 0;
  folder->get_NextMessageUID(&next);
  EXPECT_EQ(next, 1);
  folder->put_NextMessageUID(9);
  folder->get_NextMessageUID(&next);
  EXPECT_EQ(next, 9);

  VariantBool subscribed = 7;
  folder->get_Subscribed(&subscribed);
  EXPECT_EQ(subscribed, VariantFalse);
  folder->put_Subscribed(5);
  folder->get_Subscribed(&subscribed);
  EXPECT_EQ(subscribed, VariantTrue);
  folder->put_Subscribed(0);
  folder->get_Subscribed(&subscribed);
  EXPECT_EQ(subscribed, VariantFalse);

  // Messages and SubFolders are the folder's own objects, the same every time.
  Ref<IImapMessages> m1, m2;
  Ref<IImapFolders> f1, f2;
  folder->get_Messages(&m1);
  folder->get_Messages(&m2);
  folder->get_SubFolders(&f1);
  folder->get_SubFolders(&f2);
  EXPECT_EQ(m1, m2);
  EXPECT_EQ(f1, f2);
  EXPECT_TRUE(m1 != nullptr && f1 != nullptr);
  EXPECT_EQ(folder->get_Messages(nullptr), StatusOk);
  EXPECT_EQ(folder->get_SubFolders(nullptr), StatusOk);
  EXPECT_EQ(folder->get_Tag(nullptr), StatusOk);
}

TEST(ImapFolderTest, TagKeepsAValueNotAReferenceToTheCallersVariable) {
  Ref<IImapFolder> folder;
  ASSERT_EQ(CreateImapFolder(&folder), StatusOk);
  std::int32_t host_variable = 5;
  folder->put_Tag(Variant::ByRef(&host_variable));
  host_variable = 6;
  Variant tag;
  ASSERT_EQ(folder->get_Tag(&tag), StatusOk);
  ASSERT_FALSE(tag.IsByRef());
  ASSERT_EQ(tag.type(), VarType::I4);
  EXPECT_EQ(tag.i4(), 5);
}

TEST(ImapFoldersTest, AddPassesTheOwnerUserDownTheTree) {
  Ref<testing::StubServer> server(new testing::StubServer);
  Ref<testing::StubUser> user(new testing::StubUser(server.get()));
  Ref<ImapFolders> root = ImapFolders::Create();
  SetRootCollectionOwner(root.get(), user.get());
  EXPECT_EQ(root->OwnerUser(), user.get());
  EXPECT_EQ(root->ParentFolder(), nullptr);

  Ref<ImapFolder> top = root->AddFolder(W("top"));
  EXPECT_EQ(top->SubFolders()->OwnerUser(), user.get());
  EXPECT_EQ(top->Messages()->OwnerUser(), user.get());
  EXPECT_EQ(top->SubFolders()->ParentFolder(), top.get());
  EXPECT_EQ(top->Messages()->ParentFolder(), top.get());
  Ref<ImapFolder> below = top->SubFolders()->AddFolder(W("below"));
  EXPECT_EQ(below->Messages()->OwnerUser(), user.get());

  // A collection the host installs as the user's root takes over the old root's links.
  Ref<ImapFolders> replacement = ImapFolders::Create();
  AdoptCollectionLinks(replacement.get(), root.get());
  EXPECT_EQ(replacement->OwnerUser(), user.get());
  EXPECT_EQ(replacement->ParentFolder(), nullptr);
  Ref<ImapFolder> added = replacement->AddFolder(W("new"));
  EXPECT_EQ(added->Messages()->OwnerUser(), user.get());
  EXPECT_EQ(PathOf(added.get()), "/new");
}

}  // namespace
}  // namespace kivimap::store
