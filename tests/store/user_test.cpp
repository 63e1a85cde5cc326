// ImapUser and ImapUsers as a host sees them without a server: plain records.
#include "store/user.h"

#include <gtest/gtest.h>

#include <cmath>

#include "store/users.h"

namespace kivimap::store {
namespace {

TEST(UserTest, AutomationDatesFollowTheCalendar) {
  EXPECT_DOUBLE_EQ(AutomationDate(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(AutomationDate(1899, 12, 31, 0, 0, 0), 1.0);
  EXPECT_DOUBLE_EQ(AutomationDate(2000, 1, 1, 0, 0, 0), 36526.0);
  EXPECT_DOUBLE_EQ(AutomationDate(2024, 2, 29, 0, 0, 0), 45351.0);
  EXPECT_DOUBLE_EQ(AutomationDate(2024, 3, 1, 0, 0, 0), 45352.0);
  // 14:30:15 on 5 December 2026 (any milliseconds are dropped before this).
  EXPECT_NEAR(AutomationDate(2026, 12, 5, 14, 30, 15), 46361.0 + 52215.0 / 86400.0, 1e-9);
  // Before the epoch the time of day counts away from zero.
  EXPECT_NEAR(AutomationDate(1800, 3, 1, 12, 0, 0), -36463.5, 1e-9);
}

TEST(UserTest, AHostCreatedUserIsAPlainRecord) {
  Ref<IImapUser> user;
  ASSERT_EQ(CreateImapUser(&user), StatusOk);
  WideString text;
  user->get_Hostname(&text);
  EXPECT_FALSE(text.IsNull());
  EXPECT_TRUE(text.empty());
  std::int32_t state = 0;
  user->get_State(&state);
  EXPECT_EQ(state, StateConnecting);
  Date connected = 0;
  user->get_TimeConnected(&connected);
  EXPECT_NEAR(connected, LocalTimeNow(), 2.0 / 86400);

  EXPECT_EQ(user->put_Username(u"ann"), StatusOk);
  user->get_Username(&text);
  EXPECT_EQ(text.ToNarrow(), "ann");
  EXPECT_EQ(user->put_TimeConnected(45000.25), StatusOk);
  user->get_TimeConnected(&connected);
  EXPECT_EQ(connected, 45000.25);
  EXPECT_EQ(user->put_BytesDownload(-1), StatusOk);
  std::int32_t bytes = 0;
  user->get_BytesDownload(&bytes);
  EXPECT_EQ(bytes, -1);

  std::int16_t index = 0;
  EXPECT_EQ(user->get_Index(&index), StatusInvalidArg);
  EXPECT_EQ(user->Disconnect(), StatusOk);
  EXPECT_EQ(user->Send(u"nobody hears this"), StatusOk);
}

TEST(UserTest, TagKeepsACopyOfTheValueNotAReference) {
  Ref<IImapUser> user;
  ASSERT_EQ(CreateImapUser(&user), StatusOk);
  std::int32_t host_variable = 5;
  EXPECT_EQ(user->put_Tag(Variant::ByRef(&host_variable)), StatusOk);
  host_variable = 6;
  Variant tag;
  EXPECT_EQ(user->get_Tag(&tag), StatusOk);
  EXPECT_FALSE(tag.IsByRef());
  EXPECT_EQ(tag.i4(), 5);
  EXPECT_EQ(user->get_Tag(nullptr), StatusOk);
}

TEST(UserTest, FoldersCanBeReplacedByTheHost) {
  Ref<IImapUser> user;
  ASSERT_EQ(CreateImapUser(&user), StatusOk);
  Ref<IImapFolders> root;
  ASSERT_EQ(user->get_Folders(&root), StatusOk);
  ASSERT_TRUE(root);
  EXPECT_EQ(user->get_Folders(nullptr), StatusOk);
  EXPECT_EQ(user->putref_Folders(nullptr), StatusOk);
  Ref<IImapFolders> same;
  user->get_Folders(&same);
  EXPECT_EQ(same.get(), root.get());

  Ref<IImapFolders> built;
  ASSERT_EQ(CreateImapFolders(&built), StatusOk);
  Ref<IImapFolder> inbox;
  built->Add(u"INBOX", &inbox);
  EXPECT_EQ(user->putref_Folders(built.get()), StatusOk);
  Ref<IImapFolders> now;
  user->get_Folders(&now);
  EXPECT_EQ(now.get(), built.get());
  root.Reset();  // the replaced collection may go now
  user.Reset();  // and the user before the collection the host still holds
  std::int16_t count = 0;
  built->get_Count(&count);
  EXPECT_EQ(count, 1);
}

TEST(UserTest, MembersAnswerByDispatchId) {
  Ref<IImapUser> user;
  ASSERT_EQ(CreateImapUser(&user), StatusOk);
  DispId id = 0;
  EXPECT_EQ(user->GetIDsOfNames(u"bytesdownload", &id), StatusOk);
  EXPECT_EQ(id, 5);
  DispParams name = DispParams::FromNatural({Variant(u"joe")});
  EXPECT_EQ(user->Invoke(2, DispatchPropertyPut, name, nullptr), StatusOk);
  DispParams none;
  Variant result;
  EXPECT_EQ(user->Invoke(2, DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_EQ(result.bstr().ToNarrow(), "joe");
  EXPECT_EQ(user->Invoke(6, DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_EQ(result.type(), VarType::Date);
  EXPECT_EQ(user->Invoke(9, DispatchPropertyGet, none, &result), StatusInvalidArg);
  EXPECT_EQ(user->Invoke(8, DispatchPropertyPut, name, nullptr), StatusInvalidArg)
      << "State is read-only";
  DispParams text = DispParams::FromNatural({Variant(u"* hi")});
  EXPECT_EQ(user->Invoke(12, DispatchMethod, text, nullptr), StatusOk);
  EXPECT_EQ(user->Invoke(11, DispatchMethod, none, nullptr), StatusOk);
  EXPECT_EQ(user->Invoke(13, DispatchMethod, none, nullptr), StatusMemberNotFound);
}

TEST(UsersTest, KeepsAcceptanceOrderAndRefusesBadIndexes) {
  Ref<ImapUsers> users(new ImapUsers);
  Ref<ImapUser> a(new ImapUser);
  Ref<ImapUser> b(new ImapUser);
  Ref<ImapUser> c(new ImapUser);
  users->Append(a);
  users->Append(b);
  users->Append(c);
  users->Append(b);  // duplicates are allowed
  std::int16_t count = 0;
  users->get_Count(&count);
  EXPECT_EQ(count, 4);
  Ref<IImapUser> item;
  EXPECT_EQ(users->get_Item(4, &item), StatusInvalidArg);
  EXPECT_EQ(users->get_Item(-1, &item), StatusInvalidArg);
  ASSERT_EQ(users->get_Item(2, &item), StatusOk);
  EXPECT_EQ(item.get(), c.get());

  users->Remove(b.get());  // the first one only
  EXPECT_EQ(users->PositionOf(c.get()), 1u);
  EXPECT_EQ(users->PositionOf(b.get()), 2u);
  users->Remove(a.get());
  users->Remove(a.get());  // not there any more: nothing happens
  EXPECT_EQ(users->size(), 2u);
  users->RemoveAll();
  EXPECT_EQ(users->size(), 0u);
  EXPECT_EQ(users->PositionOf(c.get()), std::nullopt);

  DispParams index = DispParams::FromNatural({Variant(std::int16_t{0})});
  Variant result;
  EXPECT_EQ(users->Invoke(0, DispatchPropertyGet, index, &result), StatusInvalidArg);
  DispParams none;
  EXPECT_EQ(users->Invoke(1, DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_EQ(result.i2(), 0);
}

}  // namespace
}  // namespace kivimap::store
