// The store classes as a host or a script sees them: members called by dispatch id, with the
// conversions late-bound callers rely on; the objects the factories make; automation dates.
#include <string>
#include <vector>

#include "store_test_support.h"

namespace kivimap::store::testing {
namespace {

constexpr InvokeFlags kGet = DispatchMethod | DispatchPropertyGet;
constexpr InvokeFlags kPut = DispatchPropertyPut;

Variant Call(IDispatch* object, DispId id, InvokeFlags kind, std::vector<Variant> args = {},
             Status expected = StatusOk) {
  DispParams params = DispParams::FromNatural(std::move(args));
  Variant result;
  EXPECT_EQ(object->Invoke(id, kind, params, &result), expected) << "dispid " << id;
  return result;
}

Variant I2(std::int16_t value) { return value; }
Variant I4(std::int32_t value) { return value; }

// Each property is put by id (unless put is Empty), then read back by id.
struct Property {
  DispId id;
  Variant put, want;
};
void ExpectProperties(IDispatch* object, std::initializer_list<Property> properties) {
  for (const Property& p : properties) {
    if (!p.put.IsEmpty()) Call(object, p.id, kPut, {p.put});
    EXPECT_TRUE(Call(object, p.id, kGet) == p.want) << "dispid " << p.id;
  }
}

TEST(DispatchTest, MembersByIdWithTheConversionsScriptsRelyOn) {
  TempDir dir;
  const std::string file = dir.Write("m", "Subject: late\r\nFrom: ann\r\n\r\nbound\r\n");
  Ref<IImapFolders> folders;
  ASSERT_EQ(CreateImapFolders(&folders), StatusOk);
  const Variant work = Call(folders.get(), 2, DispatchMethod, {u"Work"});  // Add
  EXPECT_TRUE(Call(folders.get(), DispIdValue, kGet, {u"Work"}) == work);
  IDispatch* folder = work.dispatch();
  // Name and Path; UID takes a 16-bit value; Subscribed is stored as 0/1 and read as a boolean.
  ExpectProperties(folder, {{1, u"Job", u"Job"}, {8, {}, u"/Job"}, {5, I2(77), I4(77)}});
  ExpectProperties(folder, {{7, I2(5), true}, {7, I2(0), false}});
  Call(folder, 4, DispatchPropertyPutRef, {I4(3)});  // Tag
  ExpectProperties(folder, {{4, {}, I4(3)}});
  Call(folder, 8, kPut, {u"/x"}, StatusInvalidArg);  // Path is read-only

  // Messages.Add without an argument makes a message: Filename, Size, EndPosition, Index, Text
  // and Body; then its Headers, a field by name, and their texts.
  const Variant message = Call(Call(folder, 2, kGet).dispatch(), 2, DispatchMethod);
  IDispatch* m = message.dispatch();
  ExpectProperties(m, {{3, W(file), W(file)}, {2, {}, I4(35)}, {5, I4(30), I4(30)}});
  ExpectProperties(m, {{6, {}, I2(0)}, {9, {}, u"bound\r\n"}, {DispIdValue, {}, W(ReadAll(file))}});
  Call(m, 2, kPut, {I4(1)}, StatusInvalidArg);  // Size is read-only
  const Variant fields = Call(m, 10, kGet);
  ExpectProperties(fields.dispatch(), {{4, {}, I2(2)}, {5, {}, u"Subject: late\r\nFrom: ann\r\n"}});
  IDispatch* from = Call(fields.dispatch(), DispIdValue, kGet, {u"FROM"}).dispatch();
  ExpectProperties(from, {{DispIdValue, {}, u"From: ann"}, {1, {}, u"From"}, {2, {}, u"ann"}});
}

// Tag must hold the value itself: a reference to the caller's variable would dangle.
template <class Object>
void ExpectTagKeepsAValue(Object* object) {
  std::int32_t host_variable = 5;
  ASSERT_EQ(object->put_Tag(Variant::ByRef(&host_variable)), StatusOk);
  host_variable = 6;
  Variant tag;
  ASSERT_EQ(object->get_Tag(&tag), StatusOk);
  EXPECT_TRUE(tag == I4(5));  // by value, not by reference
}

TEST(HostObjectsTest, FactoriesMakeEmptyObjectsThatKeepATagByValue) {
  Ref<IImapFolder> folder;
  Ref<IImapMessage> message;
  Ref<IImapMessageHeader> header;
  Ref<IImapUser> user;
  ASSERT_EQ(CreateImapFolder(&folder), StatusOk);
  ASSERT_EQ(CreateImapMessage(&message), StatusOk);
  ASSERT_EQ(CreateImapMessageHeader(&header), StatusOk);
  ASSERT_EQ(CreateImapUser(&user), StatusOk);
  ExpectProperties(folder.get(), {{9, {}, I4(1)}, {7, {}, false}});  // NextMessageUID, Subscribed
  EXPECT_EQ(folder->get_UID(nullptr), StatusPointer);
  ExpectProperties(header.get(), {{DispIdValue, {}, u": "}});
  ExpectProperties(user.get(), {{2, u"joe", u"joe"}, {8, {}, I4(StateConnecting)}});
  ExpectProperties(user.get(), {{6, Variant::FromDate(45000.25), Variant::FromDate(45000.25)}});
  Call(user.get(), 8, kPut, {I4(1)}, StatusInvalidArg);  // State is read-only
  ExpectTagKeepsAValue(folder.get());
  ExpectTagKeepsAValue(message.get());
  ExpectTagKeepsAValue(user.get());
}

TEST(UserTest, AutomationDatesFollowTheCalendar) {
  EXPECT_DOUBLE_EQ(AutomationDate(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(AutomationDate(2000, 1, 1, 0, 0, 0), 36526.0);
  EXPECT_DOUBLE_EQ(AutomationDate(2024, 2, 29, 0, 0, 0), 45351.0);
  EXPECT_DOUBLE_EQ(AutomationDate(2024, 3, 1, 0, 0, 0), 45352.0);
  EXPECT_NEAR(AutomationDate(2026, 12, 5, 14, 30, 15), 46361.0 + 52215.0 / 86400.0, 1e-9);
  EXPECT_NEAR(AutomationDate(1800, 3, 1, 12, 0, 0), -36463.5, 1e-9);  // time counts away from 0
}

}  // namespace
}  // namespace kivimap::store::testing
