#include "automation/connection_point.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "automation/dispatch_object.h"

namespace kivimap::automation {
namespace {

using Handler = std::function<void(DispId, DispParams&)>;

// A sink that runs a test-supplied handler for every event.
struct LambdaSink : DispatchObject<IDispatch> {
  explicit LambdaSink(Handler h) : handler(std::move(h)) {}
  Status GetIDsOfNames(std::u16string_view, DispId*) override { return StatusUnknownName; }
  Status Invoke(DispId id, InvokeFlags, DispParams& params, Variant*) override {
    handler(id, params);
    return StatusFail;  // ignored by Fire
  }
  Handler handler;
};

class ConnectionPointTest : public testing::Test {
 protected:
  std::uint32_t Add(Handler handler) {  // the connection point holds the only reference
    std::uint32_t cookie = 0;
    EXPECT_EQ(cp.Advise(Ref<LambdaSink>(new LambdaSink(std::move(handler))).get(), &cookie),
              StatusOk);
    return cookie;
  }
  Handler Log(int n) {
    return [this, n](DispId, DispParams&) { order.push_back(n); };
  }
  ConnectionPoint cp;
  std::vector<int> order;
};

TEST_F(ConnectionPointTest, CookiesNameSlotsAndEmptiedSlotsAreReused) {
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(Add(Log(n)), std::uint32_t(n));
  EXPECT_EQ(cp.Unadvise(2), StatusOk);
  for (std::uint32_t bad : {0u, 2u, 4u}) EXPECT_EQ(cp.Unadvise(bad), StatusInvalidArg) << bad;
  EXPECT_EQ(Add(Log(4)), 2u);
  std::uint32_t cookie = 0;
  EXPECT_EQ(cp.Advise(nullptr, &cookie), StatusPointer);
  cp.Fire(1, {});
  EXPECT_EQ(order, (std::vector<int>{1, 4, 3}));
}

TEST_F(ConnectionPointTest, ByReferenceArgumentsCarryOneSinksAnswerToTheNext) {
  std::vector<std::int32_t> seen;
  Add([&](DispId id, DispParams& p) {
    EXPECT_EQ(id, 8);
    seen.push_back(*p.Arg(1).i4_ref());
    *p.Arg(1).i4_ref() = 1;
    p.Arg(0) = Variant(u"changed by the first sink");  // a by-value argument: a local change
  });
  Add([&](DispId, DispParams& p) {
    EXPECT_EQ(p.Arg(0), Variant(u"name"));
    seen.push_back(*p.Arg(1).i4_ref());
  });
  std::int32_t action = 0;
  cp.Fire(8, {Variant(u"name"), Variant::ByRef(&action)});
  EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(action, 1);
}

TEST_F(ConnectionPointTest, SinksRemovedDuringFiringFinishButAreNotCalledAgain) {
  std::uint32_t self = 0;
  self = Add([&](DispId, DispParams& p) {
    // Drops the slot's reference: only Fire's keeps this sink (and the captures below) alive.
    ASSERT_EQ(cp.Unadvise(self), StatusOk);
    ASSERT_EQ(cp.Unadvise(3), StatusOk);  // a later sink that has not run yet
    order.push_back(1);
    p.Arg(0) = Variant(std::int32_t{1});  // still safe to touch its own arguments
  });
  Add(Log(2));
  Add(Log(3));
  cp.Fire(1, {Variant()});
  cp.Fire(1, {Variant()});
  EXPECT_EQ(order, (std::vector<int>{1, 2, 2}));
}

TEST_F(ConnectionPointTest, SinksAddedDuringFiringWaitForTheNextEvent) {
  Add([](DispId, DispParams&) {});
  Add([&](DispId, DispParams&) {
    order.push_back(2);
    if (order.size() > 1) return;
    // The first new sink fills slot 1, behind the walk; the rest make the list reallocate.
    Add(Log(1));
    while (cp.SlotCount() < 66) Add(Log(3));
  });
  ASSERT_EQ(cp.Unadvise(1), StatusOk);
  cp.Fire(1, {});
  EXPECT_EQ(order, (std::vector<int>{2}));
  cp.Fire(1, {});
  std::vector<int> expected = {2, 1, 2};
  expected.resize(67, 3);
  EXPECT_EQ(order, expected);
}

}  // namespace
}  // namespace kivimap::automation
