// Folder and message collections: lookups, removals, paths, UIDs, and the links up the tree,
// which read as null once their target has ended (under ASan a dangling one is a use after free).
#include "store/folders.h"

#include <set>
#include <thread>
#include <vector>

#include "store_test_support.h"

namespace kivimap::store::testing {
namespace {

std::int64_t FixedClock() { return 1'700'000'000; }

std::string PathOf(IImapFolder* folder) {
  WideString path;
  EXPECT_EQ(folder->get_Path(&path), StatusOk);
  return N(path);
}

template <class Collection>
std::vector<IDispatch*> Listed(const Collection& collection) {
  std::vector<IDispatch*> out;
  for (std::size_t i = 0; i < collection.size(); ++i) out.push_back(collection.at(i));
  return out;
}

Variant Object(IDispatch* object) { return Variant(object); }

TEST(ImapFoldersTest, ItemAndRemoveTakeAnIndexAnExactNameOrTheObject) {
  Ref<ImapFolders> folders = ImapFolders::Create();
  std::vector<Ref<IImapFolder>> f(5);
  for (const WideString& name : {W("INBOX"), W("Dup"), W("Dup"), WideString::Null(), W("")}) {
    ASSERT_EQ(folders->Add(name, &f[folders->size()]), StatusOk);
  }
  auto item = [&](const Variant& id, Status want = StatusOk) {
    Ref<IImapFolder> found;
    EXPECT_EQ(folders->get_Item(id, &found), want);
    return found.get();
  };
  std::int32_t two = 2;
  EXPECT_EQ(item(std::int16_t{4}), f[4].get());
  EXPECT_EQ(item(Variant::ByRef(&two)), f[2].get());
  EXPECT_EQ(item(W("Dup")), f[1].get());  // the first of equal names
  EXPECT_EQ(item(W("")), f[4].get());     // an empty name is not an absent one
  EXPECT_EQ(item(WideString::Null()), f[3].get());
  for (const Variant& refused : {Variant(std::int16_t{-1}), Variant(std::int32_t{5}), Variant(1.0),
                                 Variant(), Variant(W("inbox")), Variant(W("INBOX "))}) {
    EXPECT_EQ(item(refused, StatusInvalidArg), nullptr);
  }
  WideString name;
  f[3]->get_Name(&name);
  EXPECT_TRUE(!name.IsNull() && name.empty());  // an absent name reads back as empty

  for (const Variant& refused :
       {Object(ImapFolder::Create().get()), Object(ImapMessages::Create().get()), Object(nullptr),
        Variant(true)}) {
    EXPECT_EQ(folders->Remove(refused), StatusInvalidArg);
  }
  ASSERT_EQ(folders->Remove(Object(f[2].get())), StatusOk);  // not the first "Dup"
  EXPECT_EQ(Listed(*folders),
            (std::vector<IDispatch*>{f[0].get(), f[1].get(), f[3].get(), f[4].get()}));
  ASSERT_EQ(folders->Remove(Variant(W("Dup"))), StatusOk);
  ASSERT_EQ(folders->Remove(Variant(std::int16_t{0})), StatusOk);
  EXPECT_EQ(Listed(*folders), (std::vector<IDispatch*>{f[3].get(), f[4].get()}));
  // A removed folder the host holds lives on, still linked to the collection.
  ASSERT_EQ(folders->RemoveAll(), StatusOk);
  EXPECT_EQ(PathOf(f[0].get()), "/INBOX");
}

TEST(ImapFolderTest, PathsJoinTheNamesFromTheTop) {
  Ref<ImapFolders> root = ImapFolders::Create();
  Ref<ImapFolder> a = root->AddFolder(W("a"));
  Ref<ImapFolder> c = a->SubFolders()->AddFolder(W("b"))->SubFolders()->AddFolder(W("c"));
  EXPECT_EQ(PathOf(c.get()), "/a/b/c");
  a->put_Name(W("x/y"));  // shows in the children's paths; a "/" in a name is not escaped
  EXPECT_EQ(PathOf(c.get()), "/x/y/b/c");
  Ref<IImapFolder> own;
  ASSERT_EQ(CreateImapFolder(&own), StatusOk);
  EXPECT_EQ(PathOf(own.get()), "/");
  own->put_Name(W("Mine"));
  Ref<ImapFolder> child = ImapFolder::FromInterface(own.get())->SubFolders()->AddFolder(W("Child"));
  EXPECT_EQ(PathOf(child.get()), "/Mine/Child");
}

TEST(ImapFolderTest, FoldersCreatedInOneSecondGetDistinctRisingUids) {
  const FolderClock previous = SetFolderClock(&FixedClock);
  Ref<ImapFolders> folders = ImapFolders::Create();
  const std::int32_t first = folders->AddFolder(W("first"))->Uid();
  Ref<IImapFolder> host_created;  // counts too
  ASSERT_EQ(CreateImapFolder(&host_created), StatusOk);
  folders->AddFolder(W("second"));
  EXPECT_EQ(folders->AddFolder(W("last"))->Uid(), first + 3);

  // Servers on several threads share the counter.
  std::vector<std::int32_t> uids(2000);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&uids, t] {
      for (std::size_t i = t; i < uids.size(); i += 4) uids[i] = ImapFolder::Create()->Uid();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::set<std::int32_t>(uids.begin(), uids.end()).size(), 2000u);
  SetFolderClock(previous);
}

TEST(ImapMessagesTest, AddTakesTheFoldersNextUidWithoutAdvancingItOrListsAnExistingMessage) {
  Ref<ImapFolder> folder = ImapFolder::Create();
  folder->put_NextMessageUID(7);
  ImapMessages& messages = *folder->Messages();
  Ref<IImapMessage> a, b, c;
  ASSERT_EQ(messages.Add(Variant(), &a), StatusOk);
  ASSERT_EQ(messages.Add(Variant::Null(), &b), StatusOk);
  ASSERT_EQ(messages.Add(Variant(), &c), StatusOk);
  EXPECT_EQ(ImapMessage::FromInterface(a.get())->Uid(), 7);
  EXPECT_EQ(folder->NextMessageUid(), 7);
  // An existing message is listed as often as it is added, and stays linked where it was made.
  Ref<ImapMessages> other = ImapMessages::Create();
  Ref<IDispatch> by_ref(a.get());  // as a script passes it
  ASSERT_EQ(other->Add(Object(a.get()), nullptr), StatusOk);
  ASSERT_EQ(other->Add(Variant::ByRef(&by_ref), nullptr), StatusOk);
  EXPECT_EQ(other->Add(Object(folder.get()), nullptr), StatusInvalidArg);
  EXPECT_EQ(Listed(*other), (std::vector<IDispatch*>{a.get(), a.get()}));
  EXPECT_EQ(ImapMessage::FromInterface(a.get())->ParentCollection(), &messages);

  // Item and Remove take indexes, Remove also the object, but neither takes a name.
  Ref<IImapMessage> out;
  EXPECT_EQ(messages.get_Item(3, &out), StatusInvalidArg);
  for (const Variant& refused : {Variant(W("0")), Variant(std::int32_t{3}), Variant()}) {
    EXPECT_EQ(messages.Remove(refused), StatusInvalidArg);
  }
  ASSERT_EQ(messages.Remove(Variant(std::int16_t{1})), StatusOk);
  ASSERT_EQ(messages.Remove(Object(a.get())), StatusOk);
  EXPECT_EQ(messages.Remove(Object(a.get())), StatusInvalidArg);
  EXPECT_EQ(Listed(messages), std::vector<IDispatch*>{c.get()});
  std::int16_t index = -1;
  EXPECT_EQ(a->get_Index(&index), StatusInvalidArg);  // it keeps its link but is not found there
  ASSERT_EQ(c->get_Index(&index), StatusOk);
  EXPECT_EQ(index, 0);
}

TEST(LinksTest, TheUserAndItsServerArePassedDownAndClearWhenTheyEnd) {
  Ref<StubServer> server(new StubServer);
  Ref<ImapUser> user(new ImapUser);
  user->SetHost(server.get());
  Ref<IImapFolders> old_root;
  user->get_Folders(&old_root);
  Ref<ImapFolder> inbox = ImapFolders::FromInterface(old_root.get())->AddFolder(W("INBOX"));
  EXPECT_EQ(inbox->SubFolders()->AddFolder(W("below"))->Messages()->OwnerUser(), user.get());
  Ref<ImapMessage> message = inbox->Messages()->AddNew();
  EXPECT_EQ(message->OwnerServer(), server.get());
  EXPECT_EQ(message->PartsCollection()->OwnerUser(), user.get());
  // A collection the host installs as the user's root takes over the old root's links; the old
  // one may go then, and the user before the new one.
  Ref<ImapFolders> root = ImapFolders::Create();
  ASSERT_EQ(user->putref_Folders(root.get()), StatusOk);
  old_root.Reset();
  EXPECT_EQ(root->OwnerUser(), user.get());
  EXPECT_EQ(root->AddFolder(W("new"))->Messages()->AddNew()->OwnerServer(), server.get());

  server.Reset();
  EXPECT_EQ(message->OwnerServer(), nullptr);
  EXPECT_EQ(inbox->Messages()->AddNew()->OwnerServer(), nullptr);
  user.Reset();
  EXPECT_EQ(root->OwnerUser(), nullptr);
  EXPECT_EQ(root->size(), 1u);
  EXPECT_EQ(message->PartsCollection()->OwnerUser(), nullptr);
}

TEST(LinksTest, WhatOutlivesItsOwnerLosesTheLinkButStaysUsable) {
  TempDir dir;
  const std::string file = dir.Write(
      "m", "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n\none\n--b\n\ntwo\n--b--\n");
  Ref<ImapFolder> middle, child;
  Ref<IImapMessage> message, part;
  Ref<IImapMessageHeaders> headers;
  {
    Ref<ImapFolders> root = ImapFolders::Create();
    middle = root->AddFolder(W("top"))->SubFolders()->AddFolder(W("middle"));
    child = middle->SubFolders()->AddFolder(W("child"));
    child->put_NextMessageUID(40);
    child->Messages()->Add(Variant(), &message);
    message->put_Filename(W(file));
    ASSERT_EQ(message->get_Headers(&headers), StatusOk);
    part = Ref<IImapMessage>(PartsOf(*ImapMessage::FromInterface(message.get())).at(1));
  }
  // The root and "top" have ended; "top"'s sub-folder collection ended with it.
  EXPECT_EQ(middle->ParentCollection(), nullptr);
  EXPECT_EQ(PathOf(child.get()), "/middle/child");
  Ref<ImapMessages> messages(child->Messages());
  middle->SubFolders()->RemoveAll();
  child.Reset();
  EXPECT_EQ(messages->ParentFolder(), nullptr);
  EXPECT_EQ(messages->AddNew()->Uid(), 0);  // no folder to take a UID from

  std::int16_t index = 0;
  messages.Reset();  // the message's collection ends
  EXPECT_EQ(message->get_Index(&index), StatusInvalidArg);
  message.Reset();  // the message, its parts collection and its headers' owner end here
  EXPECT_EQ(part->get_Index(&index), StatusInvalidArg);
  EXPECT_EQ(TextOf(part.get()), "two\r\n");
  Ref<IImapMessageHeader> field;
  ASSERT_EQ(headers->get_Item(Variant(u"content-type"), &field), StatusOk);
  EXPECT_EQ(ImapMessageHeader::FromInterface(field.get())->value(),
            "multipart/mixed; boundary=\"b\"");
}

}  // namespace
}  // namespace kivimap::store::testing
