// Late-bound use of every store class: members found by name and called by dispatch id.
#include <string>

#include "store/folders.h"
#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::TempDir;
using testing::W;

constexpr InvokeFlags kGet = DispatchPropertyGet;
constexpr InvokeFlags kCall = DispatchMethod | DispatchPropertyGet;

Variant Call(IDispatch* object, DispId id, InvokeFlags kind, std::vector<Variant> args = {},
             Status expected = StatusOk) {
  DispParams params = DispParams::FromNatural(std::move(args));
  Variant result;
  EXPECT_EQ(object->Invoke(id, kind, params, &result), expected) << "dispid " << id;
  return result;
}

DispId IdOf(IDispatch* object, std::u16string_view name) {
  DispId id = -99;
  EXPECT_EQ(object->GetIDsOfNames(name, &id), StatusOk);
  return id;
}

TEST(DispatchTest, FoldersAndFolders) {
  Ref<IImapFolders> folders;
  ASSERT_EQ(CreateImapFolders(&folders), StatusOk);
  EXPECT_EQ(IdOf(folders.get(), u"removeall"), 4);
  DispId unused;
  EXPECT_EQ(folders->GetIDsOfNames(u"Nope", &unused), StatusUnknownName);

  Variant added = Call(folders.get(), 2, DispatchMethod, {Variant(u"Work")});
  ASSERT_EQ(added.type(), VarType::Dispatch);
  IDispatch* work = added.dispatch();
  Call(folders.get(), 2, DispatchMethod, {Variant(u"Home")});
  EXPECT_EQ(Call(folders.get(), 1, kGet).i2(), 2);
  EXPECT_EQ(Call(folders.get(), DispIdValue, kCall, {Variant(u"Work")}).dispatch(), work);
  EXPECT_EQ(Call(folders.get(), DispIdValue, kGet, {Variant(std::int16_t{1})}).type(),
            VarType::Dispatch);
  Call(folders.get(), DispIdValue, kGet, {Variant(std::int16_t{2})}, StatusInvalidArg);
  Call(folders.get(), DispIdValue, kGet, {}, StatusBadParamCount);
  Call(folders.get(), 77, kGet, {}, StatusMemberNotFound);

  // The folder's own members.
  Call(work, 1, DispatchPropertyPut, {Variant(u"Job")});
  EXPECT_EQ(Call(work, IdOf(work, u"Name"), kGet).bstr(), WideString(u"Job"));
  EXPECT_EQ(Call(work, 8, kGet).bstr(), WideString(u"/Job"));
  Call(work, 7, DispatchPropertyPut, {Variant(true)});
  Variant subscribed = Call(work, 7, kGet);
  EXPECT_EQ(subscribed.type(), VarType::Bool);
  EXPECT_EQ(subscribed.boolean(), VariantTrue);
  Call(work, 9, DispatchPropertyPut, {Variant(std::int32_t{12})});
  EXPECT_EQ(Call(work, 9, kGet).i4(), 12);
  Call(work, 5, DispatchPropertyPut, {Variant(std::int16_t{77})});
  EXPECT_EQ(Call(work, 5, kGet).i4(), 77);
  Call(work, 6, DispatchPropertyPut, {Variant(u"loc")});
  EXPECT_EQ(Call(work, 6, kGet).bstr(), WideString(u"loc"));
  Call(work, 4, DispatchPropertyPutRef, {Variant(std::int32_t{3})});
  EXPECT_EQ(Call(work, 4, kGet).i4(), 3);
  EXPECT_EQ(Call(work, 2, kGet).type(), VarType::Dispatch);
  EXPECT_EQ(Call(work, 3, kGet).type(), VarType::Dispatch);
  Call(work, 8, DispatchPropertyPut, {Variant(u"/x")}, StatusInvalidArg);  // Path is read-only
  Call(work, 1, DispatchPropertyPut, {Variant(std::int32_t{5})}, StatusInvalidArg);

  Call(folders.get(), 3, DispatchMethod, {Variant(work)});
  EXPECT_EQ(Call(folders.get(), 1, kGet).i2(), 1);
  Call(folders.get(), 4, DispatchMethod);
  EXPECT_EQ(Call(folders.get(), 1, kGet).i2(), 0);
}

TEST(DispatchTest, MessagesMessageAndHeaders) {
  TempDir dir;
  const std::string file = dir.Write("m", "Subject: late\r\nFrom: ann\r\n\r\nbound\r\n");
  Ref<IImapMessages> messages;
  ASSERT_EQ(CreateImapMessages(&messages), StatusOk);

  // Add without an argument creates a message.
  Variant created = Call(messages.get(), 2, DispatchMethod);
  ASSERT_EQ(created.type(), VarType::Dispatch);
  IDispatch* message = created.dispatch();
  EXPECT_EQ(Call(messages.get(), 1, kGet).i2(), 1);
  EXPECT_EQ(Call(messages.get(), DispIdValue, kGet, {Variant(std::int16_t{0})}).dispatch(),
            message);
  Call(messages.get(), DispIdValue, kGet, {Variant(std::int16_t{1})}, StatusInvalidArg);
  Call(messages.get(), 2, DispatchMethod, {Variant(), Variant()}, StatusBadParamCount);

  Call(message, 3, DispatchPropertyPut, {Variant(W(file))});
  EXPECT_EQ(N(Call(message, 3, kGet).bstr()), file);
  EXPECT_EQ(Call(message, 2, kGet).i4(), 35);
  Call(message, 4, DispatchPropertyPut, {Variant(std::int32_t{1})});
  EXPECT_EQ(Call(message, 4, kGet).i4(), 1);
  EXPECT_EQ(Call(message, 5, kGet).i4(), 35);
  Call(message, 5, DispatchPropertyPut, {Variant(std::int32_t{30})});
  EXPECT_EQ(Call(message, 2, kGet).i4(), 29);
  Call(message, 4, DispatchPropertyPut, {Variant(std::int32_t{0})});
  EXPECT_EQ(Call(message, 6, kGet).i2(), 0);
  Call(message, 7, DispatchPropertyPut, {Variant(std::int32_t{Seen | Flagged})});
  EXPECT_EQ(Call(message, 7, kGet).i4(), 3);
  Call(message, 8, DispatchPropertyPut, {Variant(std::int32_t{501})});
  EXPECT_EQ(Call(message, 8, kGet).i4(), 501);
  Call(message, 1, DispatchPropertyPut, {Variant(u"tag")});
  EXPECT_EQ(Call(message, 1, kGet).bstr(), WideString(u"tag"));
  EXPECT_EQ(N(Call(message, DispIdValue, kGet).bstr()), testing::ReadAll(file));
  EXPECT_EQ(Call(message, 9, kGet).bstr(), WideString(u"bound\r\n"));
  EXPECT_EQ(Call(message, 11, kGet).type(), VarType::Dispatch);
  Variant headers = Call(message, 10, kGet);
  ASSERT_EQ(headers.type(), VarType::Dispatch);
  Call(message, 2, DispatchPropertyPut, {Variant(std::int32_t{1})}, StatusInvalidArg);

  IDispatch* fields = headers.dispatch();
  EXPECT_EQ(Call(fields, 4, kGet).i2(), 2);
  EXPECT_EQ(Call(fields, 5, kCall).bstr(), WideString(u"Subject: late\r\nFrom: ann\r\n"));
  Variant from = Call(fields, DispIdValue, kGet, {Variant(u"FROM")});
  ASSERT_EQ(from.type(), VarType::Dispatch);
  EXPECT_EQ(Call(from.dispatch(), DispIdValue, kCall).bstr(), WideString(u"From: ann"));
  EXPECT_EQ(Call(from.dispatch(), 1, kGet).bstr(), WideString(u"From"));
  EXPECT_EQ(Call(from.dispatch(), 2, kGet).bstr(), WideString(u"ann"));
  EXPECT_EQ(IdOf(from.dispatch(), u"value"), 2);
  EXPECT_EQ(IdOf(fields, u"TOSTRING"), 5);

  Call(messages.get(), 3, DispatchMethod, {Variant(std::int16_t{0})});
  EXPECT_EQ(Call(messages.get(), 1, kGet).i2(), 0);
  Call(messages.get(), 3, DispatchMethod, {Variant(message)}, StatusInvalidArg);
  Call(messages.get(), 4, DispatchMethod);
}

}  // namespace
}  // namespace kivimap::store
