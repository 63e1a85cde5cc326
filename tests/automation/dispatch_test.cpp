#include <gtest/gtest.h>

#include <array>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"

namespace kivimap::automation {
namespace {

// A small late-bound class: a counter with a name.
class Counter : public DispatchObject<IDispatch> {
 public:
  static inline int destroyed = 0;

  Status GetIDsOfNames(std::u16string_view member, DispId* id) override {
    return DispatchGetIDsOfNames<Counter>(kTable, member, id);
  }
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override {
    return DispatchInvoke<Counter>(kTable, *this, id, kind, params, result);
  }

  std::int32_t value = 0;
  WideString name;

 private:
  ~Counter() override { ++destroyed; }

  static Status GetValue(Counter& self, DispParams& p, Variant* result) {
    if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
    SetResult(result, Variant(self.value));
    return StatusOk;
  }
  static Status PutValue(Counter& self, DispParams& p, Variant*) {
    if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
    return ArgInt32(p, 0, &self.value);
  }
  static Status Add(Counter& self, DispParams& p, Variant* result) {
    if (Status s = ExpectArgs(p, 2); s != StatusOk) return s;
    std::int32_t a = 0;
    std::int16_t b = 0;
    if (Status s = ArgInt32(p, 0, &a); s != StatusOk) return s;
    if (Status s = ArgInt16(p, 1, &b); s != StatusOk) return s;
    self.value += a + b;
    SetResult(result, Variant(self.value));
    return StatusOk;
  }
  static Status PutName(Counter& self, DispParams& p, Variant*) {
    if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
    return ArgString(p, 0, &self.name);
  }

  static constexpr std::array<DispatchMember<Counter>, 4> kTable = {{
      {u"Value", 0, DispatchPropertyGet, &GetValue},
      {u"Value", 0, DispatchPropertyPut, &PutValue},
      {u"Add", 1, DispatchMethod, &Add},
      {u"Name", 2, DispatchPropertyPut, &PutName},
  }};
};

TEST(DispatchTest, NamesResolveIgnoringAsciiCase) {
  Ref<Counter> c(new Counter);
  DispId id = -1;
  EXPECT_EQ(c->GetIDsOfNames(u"ADD", &id), StatusOk);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(c->GetIDsOfNames(u"name", &id), StatusOk);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(c->GetIDsOfNames(u"Ad", &id), StatusUnknownName);
  EXPECT_EQ(c->GetIDsOfNames(u"Add", nullptr), StatusPointer);
}

TEST(DispatchTest, InvokeByIdReachesTheRightMember) {
  Ref<Counter> c(new Counter);
  DispParams put = DispParams::FromNatural({Variant(std::int32_t{40})});
  EXPECT_EQ(c->Invoke(0, DispatchPropertyPut, put, nullptr), StatusOk);
  EXPECT_EQ(c->value, 40);

  // Add(1, 2.5): the second argument is rounded half to even.
  DispParams add = DispParams::FromNatural({Variant(std::int32_t{1}), Variant(2.5)});
  Variant result;
  EXPECT_EQ(c->Invoke(1, DispatchMethod, add, &result), StatusOk);
  EXPECT_EQ(result, Variant(std::int32_t{43}));

  // A late-bound caller asks for Method|PropertyGet; the getter answers.
  DispParams none;
  EXPECT_EQ(c->Invoke(0, DispatchMethod | DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_EQ(result, Variant(std::int32_t{43}));
  EXPECT_EQ(c->Invoke(0, DispatchPropertyGet, none, nullptr), StatusOk);  // null result is fine

  WideString text = u"by reference";
  DispParams name = DispParams::FromNatural({Variant::ByRef(&text)});
  EXPECT_EQ(c->Invoke(2, DispatchPropertyPut, name, nullptr), StatusOk);
  EXPECT_EQ(c->name, WideString(u"by reference"));
}

TEST(DispatchTest, BadCallsGiveTheirStatusAndChangeNothing) {
  Ref<Counter> c(new Counter);
  DispParams none;
  EXPECT_EQ(c->Invoke(7, DispatchMethod, none, nullptr), StatusMemberNotFound);
  EXPECT_EQ(c->Invoke(1, DispatchPropertyGet, none, nullptr), StatusInvalidArg);  // wrong kind

  DispParams wrong_type = DispParams::FromNatural({Variant(u"12"), Variant(std::int32_t{1})});
  EXPECT_EQ(c->Invoke(1, DispatchMethod, wrong_type, nullptr), StatusInvalidArg);
  DispParams too_big = DispParams::FromNatural({Variant(std::int32_t{1}), Variant(40000.0)});
  EXPECT_EQ(c->Invoke(1, DispatchMethod, too_big, nullptr), StatusInvalidArg);
  DispParams one = DispParams::FromNatural({Variant(std::int32_t{1})});
  EXPECT_EQ(c->Invoke(1, DispatchMethod, one, nullptr), StatusBadParamCount);
  DispParams number_as_name = DispParams::FromNatural({Variant(std::int32_t{1})});
  EXPECT_EQ(c->Invoke(2, DispatchPropertyPut, number_as_name, nullptr), StatusInvalidArg);
  EXPECT_EQ(c->value, 0);
  EXPECT_TRUE(c->name.IsNull());
}

TEST(DispatchTest, ArgumentHelpers) {
  std::int32_t target = 5;
  Ref<Counter> obj(new Counter);
  DispParams p = DispParams::FromNatural(
      {Variant::ByRef(&target), Variant::Null(), Variant(obj.get()), Variant(true)});
  EXPECT_EQ(ArgVariant(p, 0), Variant(std::int32_t{5}));
  EXPECT_TRUE(ArgVariant(p, 9).IsEmpty());  // a missing optional argument

  IDispatch* out = obj.get();
  EXPECT_EQ(ArgObject(p, 1, &out), StatusOk);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ArgObject(p, 2, &out), StatusOk);
  EXPECT_EQ(out, obj.get());
  EXPECT_EQ(ArgObject(p, 0, &out), StatusInvalidArg);
  EXPECT_EQ(ArgObject(p, 4, &out), StatusBadParamCount);

  double d = 0;
  EXPECT_EQ(ArgDouble(p, 3, &d), StatusOk);
  EXPECT_EQ(d, -1.0);
  EXPECT_EQ(ArgDouble(p, 2, &d), StatusInvalidArg);
  WideString s;
  EXPECT_EQ(ArgString(p, 0, &s), StatusInvalidArg);
}

TEST(DispatchObjectTest, CountStartsAtZeroAndTheLastReleaseDestroys) {
  Counter::destroyed = 0;
  Counter* raw = new Counter;
  EXPECT_EQ(raw->RefCount(), 0u);
  WeakRef<Counter> weak(raw);
  Liveness alive(raw);
  {
    Ref<Counter> first(raw);
    EXPECT_EQ(raw->AddRef(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    Ref<Counter> second = first;
    EXPECT_EQ(raw->RefCount(), 2u);
    EXPECT_EQ(weak.get(), raw);
    EXPECT_TRUE(alive.alive());
  }
  EXPECT_EQ(Counter::destroyed, 1);
  EXPECT_EQ(weak.get(), nullptr);
  EXPECT_FALSE(alive.alive());
}

}  // namespace
}  // namespace kivimap::automation
