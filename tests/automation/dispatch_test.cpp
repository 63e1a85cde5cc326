#include <gtest/gtest.h>

#include <array>
#include <new>
#include <stdexcept>
#include <vector>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"

namespace kivimap::automation {
namespace {

// A small late-bound class: a counter. The store and server tests cover getters, Method|Get
// calls and null results on the real classes.
struct Counter : DispatchObject<IDispatch> {
  std::int32_t value = 0;

  Status GetIDsOfNames(std::u16string_view member, DispId* id) override {
    return DispatchGetIDsOfNames<Counter>(kTable, member, id);
  }
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override {
    return DispatchInvoke<Counter>(kTable, *this, id, kind, params, result);
  }
  static Status PutValue(Counter& c, DispParams& p, Variant*) { return ArgInt32(p, 0, &c.value); }
  static Status Add(Counter& c, DispParams& p, Variant* result) {  // Add(int32, int16)
    std::int32_t a = 0;
    std::int16_t b = 0;
    Status s = ArgInt32(p, 0, &a);
    if (s == StatusOk) s = ArgInt16(p, 1, &b);
    if (s == StatusOk) SetResult(result, Variant(c.value += a + b));
    return s;
  }
  static constexpr std::array<DispatchMember<Counter>, 2> kTable = {
      {{u"Value", 0, DispatchPropertyPut, &PutValue}, {u"Add", 1, DispatchMethod, &Add}}};
};

Status Call(IDispatch& object, DispId id, InvokeFlags kind, std::vector<Variant> args,
            Variant* result = nullptr) {
  DispParams p = DispParams::FromNatural(std::move(args));
  return object.Invoke(id, kind, p, result);
}

TEST(DispatchTest, InvokeByIdReachesTheRightMemberAndRefusesBadCalls) {
  Ref<Counter> c(new Counter);
  const Variant one(std::int32_t{1});
  EXPECT_EQ(Call(*c, 7, DispatchMethod, {}), StatusMemberNotFound);
  EXPECT_EQ(Call(*c, 1, DispatchPropertyGet, {}), StatusInvalidArg);  // a known id, another kind
  EXPECT_EQ(Call(*c, 1, DispatchMethod, {Variant(u"12"), one}), StatusInvalidArg);
  EXPECT_EQ(Call(*c, 1, DispatchMethod, {one, Variant(40000.0)}), StatusInvalidArg);
  EXPECT_EQ(Call(*c, 1, DispatchMethod, {one}), StatusBadParamCount);
  EXPECT_EQ(Call(*c, 0, DispatchPropertyPut, {Variant(c.get())}), StatusInvalidArg);
  EXPECT_EQ(c->value, 0);  // none of them changed anything

  std::int32_t forty = 40;
  EXPECT_EQ(Call(*c, 0, DispatchPropertyPut, {Variant::ByRef(&forty)}), StatusOk);
  Variant result;  // Add(1, 2.5): the second argument is rounded half to even
  EXPECT_EQ(Call(*c, 1, DispatchMethod, {one, Variant(2.5)}, &result), StatusOk);
  EXPECT_EQ(result, Variant(std::int32_t{43}));
  DispId id = -1;
  EXPECT_EQ(c->GetIDsOfNames(u"ADD", &id), StatusOk);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(c->GetIDsOfNames(u"Ad", &id), StatusUnknownName);
}

// Members and a factory that throw: no exception may cross a host call.
struct Thrower : DispatchObject<IDispatch> {
  Status GetIDsOfNames(std::u16string_view, DispId*) override { return StatusNotImplemented; }
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override {
    return DispatchInvoke<Thrower>(kTable, *this, id, kind, params, result);
  }
  static Status NoMemory(Thrower&, DispParams&, Variant*) { throw std::bad_alloc(); }
  static Status Broken(Thrower&, DispParams&, Variant*) { throw std::runtime_error("x"); }
  static Status Thrown(Thrower&, DispParams&, Variant*) { throw 7; }
  static constexpr std::array<DispatchMember<Thrower>, 3> kTable = {
      {{u"A", 1, DispatchMethod, &NoMemory},
       {u"B", 2, DispatchMethod, &Broken},
       {u"C", 3, DispatchMethod, &Thrown}}};
};

TEST(DispatchTest, AThrowingMemberOrFactoryAnswersAStatus) {
  const struct {
    DispId id;
    Status want;
  } cases[] = {{1, StatusOutOfMemory}, {2, StatusFail}, {3, StatusFail}};
  Ref<Thrower> t(new Thrower);
  for (const auto& c : cases) EXPECT_EQ(Call(*t, c.id, DispatchMethod, {}), c.want) << c.id;

  Ref<IDispatch> made;
  EXPECT_EQ(HandOut(&made, []() -> IDispatch* { throw std::bad_alloc(); }), StatusOutOfMemory);
  EXPECT_EQ(HandOut(&made, []() -> IDispatch* { throw std::logic_error("x"); }), StatusFail);
  EXPECT_EQ(made.get(), nullptr);
  EXPECT_EQ(HandOut(&made, [] { return new Thrower; }), StatusOk);
  EXPECT_NE(made.get(), nullptr);
}

TEST(DispatchObjectTest, CountStartsAtZeroAndTheLastReleaseDestroys) {
  Counter* raw = new Counter;
  WeakRef<Counter> weak(raw);
  EXPECT_EQ(raw->AddRef(), 1u);
  EXPECT_EQ(raw->AddRef(), 2u);
  EXPECT_EQ(raw->Release(), 1u);
  EXPECT_EQ(weak.get(), raw);
  EXPECT_EQ(raw->Release(), 0u);
  EXPECT_EQ(weak.get(), nullptr);
}

}  // namespace
}  // namespace kivimap::automation
