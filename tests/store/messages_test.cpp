// Message collections: Add with and without an object, Item, Remove, Index and the links a new
// message gets from its collection.
#include "store/messages.h"

#include "store/folders.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::W;

Variant AsVariant(IDispatch* object) { return Variant(object); }

std::int32_t UidOf(IImapMessage* message) {
  std::int32_t uid = -1;
  EXPECT_EQ(message->get_UID(&uid), StatusOk);
  return uid;
}

TEST(ImapMessagesTest, ItemRejectsIndexesOutsideTheList) {
  Ref<ImapMessages> messages = ImapMessages::Create();
  Ref<IImapMessage> out;
  EXPECT_EQ(messages->get_Item(0, &out), StatusInvalidArg);
  messages->Add(Variant(), nullptr);
  messages->Add(Variant(), nullptr);
  EXPECT_EQ(messages->get_Item(-1, &out), StatusInvalidArg);
  EXPECT_EQ(messages->get_Item(2, &out), StatusInvalidArg);
  EXPECT_EQ(messages->get_Item(1, &out), StatusOk);
  EXPECT_EQ(messages->get_Item(1, nullptr), StatusOk);
  std::int16_t count = 0;
  messages->get_Count(&count);
  EXPECT_EQ(count, 2);
}

TEST(ImapMessagesTest, NewMessagesTakeTheFoldersNextUidWithoutAdvancingIt) {
  Ref<ImapFolder> folder = ImapFolder::Create();
  folder->put_NextMessageUID(7);
  Ref<IImapMessages> messages;
  folder->get_Messages(&messages);

  Ref<IImapMessage> first, second;
  ASSERT_EQ(messages->Add(Variant(), &first), StatusOk);
  ASSERT_EQ(messages->Add(Variant::Null(), &second), StatusOk);
  EXPECT_EQ(UidOf(first.get()), 7);
  EXPECT_EQ(UidOf(second.get()), 7);
  std::int32_t next = 0;
  folder->get_NextMessageUID(&next);
  EXPECT_EQ(next, 7);

  std::int16_t index = -1;
  ASSERT_EQ(second->get_Index(&index), StatusOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(ImapMessage::FromInterface(first.get())->ParentCollection(),
            ImapMessages::FromInterface(messages.get()));

  // A collection outside any folder leaves the UID at 0.
  Ref<ImapMessages> loose = ImapMessages::Create();
  EXPECT_EQ(loose->AddNew()->Uid(), 0);
}

TEST(ImapMessagesTest, AddingAnExistingMessageChangesNothingInIt) {
  Ref<ImapMessages> home = ImapMessages::Create();
  Ref<IImapMessage> message;
  home->Add(Variant(), &message);
  message->put_UID(31);

  Ref<ImapFolder> folder = ImapFolder::Create();
  folder->put_NextMessageUID(99);
  ImapMessages* other = folder->Messages();
  Ref<IImapMessage> listed;
  ASSERT_EQ(other->Add(AsVariant(message.get()), &listed), StatusOk);
  EXPECT_EQ(listed, message);
  // Listed twice when added twice, through a reference this time.
  Ref<IDispatch> by_ref(message.get());
  ASSERT_EQ(other->Add(Variant::ByRef(&by_ref), nullptr), StatusOk);
  EXPECT_EQ(other->size(), 2u);
  EXPECT_EQ(other->at(1), other->at(0));

  EXPECT_EQ(UidOf(message.get()), 31);
  EXPECT_EQ(ImapMessage::FromInterface(message.get())->ParentCollection(), home.get());
  std::int16_t index = -1;
  message->get_Index(&index);
  EXPECT_EQ(index, 0);  // its position in the collection that made it

  // Objects of another kind are refused and the collection stays as it was.
  Ref<IImapFolder> not_a_message;
  CreateImapFolder(&not_a_message);
  EXPECT_EQ(other->Add(AsVariant(not_a_message.get()), nullptr), StatusInvalidArg);
  EXPECT_EQ(other->size(), 2u);
}

TEST(ImapMessagesTest, RemoveTakesIndexesAndObjectsButNotStrings) {
  Ref<ImapMessages> messages = ImapMessages::Create();
  Ref<IImapMessage> a, b, c;
  messages->Add(Variant(), &a);
  messages->Add(Variant(), &b);
  messages->Add(Variant(), &c);

  EXPECT_EQ(messages->Remove(Variant(W("0"))), StatusInvalidArg);
  EXPECT_EQ(messages->Remove(Variant(std::int32_t{3})), StatusInvalidArg);
  EXPECT_EQ(messages->Remove(Variant()), StatusInvalidArg);

  ASSERT_EQ(messages->Remove(Variant(std::int16_t{1})), StatusOk);
  Ref<IImapMessage> now_second;
  messages->get_Item(1, &now_second);
  EXPECT_EQ(now_second, c);

  ASSERT_EQ(messages->Remove(AsVariant(a.get())), StatusOk);
  EXPECT_EQ(messages->Remove(AsVariant(a.get())), StatusInvalidArg);
  // A removed message keeps its link but is no longer found there.
  std::int16_t index = 0;
  EXPECT_EQ(a->get_Index(&index), StatusInvalidArg);
  EXPECT_EQ(c->get_Index(&index), StatusOk);
  EXPECT_EQ(index, 0);

  messages->RemoveAll();
  std::int16_t count = -1;
  messages->get_Count(&count);
  EXPECT_EQ(count, 0);
}

TEST(ImapMessagesTest, CountIsTruncatedTo16Bits) {
  Ref<ImapMessages> messages = ImapMessages::Create();
  for (int i = 0; i < 32768; ++i) messages->AddNew();
  std::int16_t count = 0;
  messages->get_Count(&count);
  EXPECT_EQ(count, -32768);
  // Positions beyond the 16-bit range are out of reach of Item, not misread.
  Ref<IImapMessage> last;
  EXPECT_EQ(messages->get_Item(32767, &last), StatusOk);
}

TEST(ImapMessagesTest, AHostCreatedMessageHasNoIndex) {
  Ref<IImapMessage> message;
  ASSERT_EQ(CreateImapMessage(&message), StatusOk);
  std::int16_t index = 0;
  EXPECT_EQ(message->get_Index(&index), StatusInvalidArg);
  std::int32_t size = -1;
  message->get_Size(&size);
  EXPECT_EQ(size, 0);
}

TEST(ImapMessagesTest, NewMessagesLearnTheServerOfTheCollectionsUser) {
  Ref<testing::StubServer> server(new testing::StubServer);
  Ref<testing::StubUser> user(new testing::StubUser(server.get()));
  Ref<ImapFolders> root = ImapFolders::Create();
  SetRootCollectionOwner(root.get(), user.get());
  Ref<ImapFolder> inbox = root->AddFolder(W("INBOX"));

  Ref<ImapMessage> message = inbox->Messages()->AddNew();
  EXPECT_EQ(message->OwnerServer(), server.get());
  EXPECT_EQ(message->PartsCollection()->OwnerUser(), user.get());
  EXPECT_EQ(inbox->Messages()->ParentFolder(), inbox.get());

  // Without a user there is no server to learn.
  EXPECT_EQ(ImapMessages::Create()->AddNew()->OwnerServer(), nullptr);
}

}  // namespace
}  // namespace kivimap::store
