// Upward links never dangle: each reads as null once its target has ended, and everything that
// follows one copes. Run under AddressSanitizer, a dangling link would be a use after free.
#include "store/folders.h"
#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::TempDir;
using testing::W;

TEST(LinksTest, AFolderOutlivingItsCollectionLosesItsParents) {
  Ref<ImapFolder> child;
  Ref<ImapFolder> middle;
  {
    Ref<ImapFolders> root = ImapFolders::Create();
    Ref<ImapFolder> top = root->AddFolder(W("top"));
    middle = top->SubFolders()->AddFolder(W("middle"));
    child = middle->SubFolders()->AddFolder(W("child"));
    WideString path;
    child->get_Path(&path);
    EXPECT_EQ(N(path), "/top/middle/child");
  }
  // The root and "top" have ended; "top"'s sub-folder collection ended with it.
  EXPECT_EQ(middle->ParentCollection(), nullptr);
  EXPECT_EQ(child->ParentCollection(), middle->SubFolders());
  WideString path;
  ASSERT_EQ(child->get_Path(&path), StatusOk);
  EXPECT_EQ(N(path), "/middle/child");
}

TEST(LinksTest, CollectionsOutlivingTheirFolderLoseIt) {
  Ref<ImapMessages> messages;
  Ref<ImapFolders> sub_folders;
  {
    Ref<ImapFolder> folder = ImapFolder::Create();
    folder->put_NextMessageUID(40);
    messages = Ref<ImapMessages>(folder->Messages());
    sub_folders = Ref<ImapFolders>(folder->SubFolders());
    EXPECT_EQ(messages->AddNew()->Uid(), 40);
  }
  EXPECT_EQ(messages->ParentFolder(), nullptr);
  EXPECT_EQ(sub_folders->ParentFolder(), nullptr);
  // No folder to take a UID from.
  EXPECT_EQ(messages->AddNew()->Uid(), 0);
  Ref<ImapFolder> orphan = sub_folders->AddFolder(W("orphan"));
  WideString path;
  orphan->get_Path(&path);
  EXPECT_EQ(N(path), "/orphan");
}

TEST(LinksTest, AMessageOutlivingItsCollectionHasNoIndex) {
  Ref<IImapMessage> message;
  {
    Ref<ImapMessages> messages = ImapMessages::Create();
    messages->Add(Variant(), &message);
    std::int16_t index = -1;
    EXPECT_EQ(message->get_Index(&index), StatusOk);
  }
  EXPECT_EQ(ImapMessage::FromInterface(message.get())->ParentCollection(), nullptr);
  std::int16_t index = 0;
  EXPECT_EQ(message->get_Index(&index), StatusInvalidArg);
}

TEST(LinksTest, ServerAndUserLinksClearWhenTheyEnd) {
  Ref<testing::StubServer> server(new testing::StubServer);
  Ref<testing::StubUser> user(new testing::StubUser(server.get()));
  Ref<ImapFolders> root = ImapFolders::Create();
  SetRootCollectionOwner(root.get(), user.get());
  Ref<ImapFolder> inbox = root->AddFolder(W("INBOX"));
  Ref<ImapMessage> message = inbox->Messages()->AddNew();
  ASSERT_EQ(message->OwnerServer(), server.get());

  server.Reset();
  EXPECT_EQ(message->OwnerServer(), nullptr);
  // The user still links, but has no server to give any more.
  EXPECT_EQ(inbox->Messages()->OwnerUser(), user.get());
  EXPECT_EQ(inbox->Messages()->AddNew()->OwnerServer(), nullptr);

  user.Reset();
  EXPECT_EQ(root->OwnerUser(), nullptr);
  EXPECT_EQ(inbox->Messages()->OwnerUser(), nullptr);
  EXPECT_EQ(message->PartsCollection()->OwnerUser(), nullptr);
  EXPECT_EQ(inbox->Messages()->AddNew()->OwnerServer(), nullptr);
}

TEST(LinksTest, APartOutlivingItsMessageStillReadsItsFile) {
  TempDir dir;
  const std::string file = dir.Write(
      "m", "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n\none\n--b\n\ntwo\n--b--\n");
  Ref<IImapMessage> part;
  {
    Ref<ImapMessage> message = ImapMessage::Create();
    message->put_Filename(W(file));
    Ref<IImapMessages> parts;
    message->get_Parts(&parts);
    ASSERT_EQ(parts->get_Item(1, &part), StatusOk);
  }
  ImapMessage* kept = ImapMessage::FromInterface(part.get());
  EXPECT_EQ(kept->ParentCollection(), nullptr);
  std::int16_t index = 0;
  EXPECT_EQ(part->get_Index(&index), StatusInvalidArg);
  WideString text;
  ASSERT_EQ(part->get_Text(&text), StatusOk);
  EXPECT_EQ(N(text), "two\r\n");
}

TEST(LinksTest, HeaderObjectsOutliveTheirMessage) {
  TempDir dir;
  const std::string file = dir.Write("m", "Subject: kept\r\n\r\n");
  Ref<IImapMessageHeaders> headers;
  {
    Ref<ImapMessage> message = ImapMessage::Create();
    message->put_Filename(W(file));
    ASSERT_EQ(message->get_Headers(&headers), StatusOk);
  }
  Ref<IImapMessageHeader> subject;
  ASSERT_EQ(headers->get_Item(Variant(u"subject"), &subject), StatusOk);
  WideString value;
  subject->get_Value(&value);
  EXPECT_EQ(N(value), "kept");
}

}  // namespace
}  // namespace kivimap::store
