#include "automation/connection_point.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "automation/dispatch_object.h"

namespace kivimap::automation {
namespace {

// A sink that runs a test-supplied handler for every Invoke.
class LambdaSink : public DispatchObject<IDispatch> {
 public:
  using Handler = std::function<void(DispId, InvokeFlags, DispParams&)>;
  explicit LambdaSink(Handler handler) : handler_(std::move(handler)) {}
  Status GetIDsOfNames(std::u16string_view, DispId*) override { return StatusUnknownName; }
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant*) override {
    handler_(id, kind, params);
    return StatusFail;  // ignored by Fire
  }

 private:
  Handler handler_;
};

std::uint32_t AdviseNew(ConnectionPoint& cp, LambdaSink::Handler handler) {
  std::uint32_t cookie = 0;
  Ref<LambdaSink> sink(new LambdaSink(std::move(handler)));
  EXPECT_EQ(cp.Advise(sink.get(), &cookie), StatusOk);
  return cookie;  // the connection point now holds the only reference
}

TEST(ConnectionPointTest, CookiesNameSlotsAndEmptiedSlotsAreReused) {
  ConnectionPoint cp;
  auto noop = [](DispId, InvokeFlags, DispParams&) {};
  EXPECT_TRUE(cp.empty());
  EXPECT_EQ(AdviseNew(cp, noop), 1u);
  EXPECT_EQ(AdviseNew(cp, noop), 2u);
  EXPECT_EQ(AdviseNew(cp, noop), 3u);
  EXPECT_EQ(cp.Unadvise(2), StatusOk);
  EXPECT_EQ(cp.Unadvise(2), StatusInvalidArg);
  EXPECT_EQ(cp.Unadvise(0), StatusInvalidArg);
  EXPECT_EQ(cp.Unadvise(4), StatusInvalidArg);
  EXPECT_EQ(cp.SlotCount(), 3u);
  EXPECT_EQ(AdviseNew(cp, noop), 2u);

  std::uint32_t cookie = 0;
  EXPECT_EQ(cp.Advise(nullptr, &cookie), StatusPointer);
  for (std::uint32_t c : {1u, 2u, 3u}) EXPECT_EQ(cp.Unadvise(c), StatusOk);
  EXPECT_TRUE(cp.empty());
}

TEST(ConnectionPointTest, ByReferenceArgumentsCarryOneSinksAnswerToTheNext) {
  ConnectionPoint cp;
  std::vector<std::int32_t> seen;
  AdviseNew(cp, [&](DispId id, InvokeFlags kind, DispParams& p) {
    EXPECT_EQ(id, 8);
    EXPECT_EQ(kind, DispatchMethod);
    ASSERT_EQ(p.count(), 2u);
    seen.push_back(*p.Arg(1).i4_ref());
    *p.Arg(1).i4_ref() = 1;
    p.Arg(0) = Variant(u"changed by the first sink");  // a by-value argument: a local change
  });
  AdviseNew(cp, [&](DispId, InvokeFlags, DispParams& p) {
    EXPECT_EQ(p.Arg(0), Variant(u"name"));
    seen.push_back(*p.Arg(1).i4_ref());
  });

  std::int32_t action = 0;
  cp.Fire(8, {Variant(u"name"), Variant::ByRef(&action)});
  EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(action, 1);
}

TEST(ConnectionPointTest, WithNoSinksTheCallersValueStands) {
  ConnectionPoint cp;
  AdviseNew(cp, [](DispId, InvokeFlags, DispParams&) { FAIL() << "unadvised sink called"; });
  ASSERT_EQ(cp.Unadvise(1), StatusOk);
  std::int32_t action = 1;
  cp.Fire(1, {Variant(), Variant::ByRef(&action)});
  EXPECT_EQ(action, 1);
}

TEST(ConnectionPointTest, FireHoldsEachSinkWhileItRunsAndReleasesItAfter) {
  ConnectionPoint cp;
  Ref<LambdaSink> sink;
  sink = Ref<LambdaSink>(new LambdaSink([&](DispId, InvokeFlags, DispParams&) {
    EXPECT_EQ(sink->RefCount(), 3u);  // ours, the slot's, and the firing code's
  }));
  std::uint32_t cookie = 0;
  ASSERT_EQ(cp.Advise(sink.get(), &cookie), StatusOk);
  cp.Fire(4, {});
  EXPECT_EQ(sink->RefCount(), 2u);
  ASSERT_EQ(cp.Unadvise(cookie), StatusOk);
  EXPECT_EQ(sink->RefCount(), 1u);
}

TEST(ConnectionPointTest, ASinkThatUnadvisesItselfFinishesAndTheNextStillRuns) {
  ConnectionPoint cp;
  std::vector<int> order;
  std::uint32_t self = 0;
  self = AdviseNew(cp, [&](DispId, InvokeFlags, DispParams& p) {
    ASSERT_EQ(cp.Unadvise(self), StatusOk);  // drops the slot's reference: only Fire's is left
    order.push_back(1);
    p.Arg(0) = Variant(std::int32_t{1});  // still safe to touch its own arguments
  });
  AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) { order.push_back(2); });
  cp.Fire(1, {Variant()});
  cp.Fire(1, {Variant()});
  EXPECT_EQ(order, (std::vector<int>{1, 2, 2}));
}

TEST(ConnectionPointTest, ASinkRemovedByAnEarlierSinkIsNotCalled) {
  ConnectionPoint cp;
  std::vector<int> order;
  AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) {
    order.push_back(1);
    cp.Unadvise(2);
    cp.Unadvise(3);
  });
  AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) { order.push_back(2); });
  AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) { order.push_back(3); });
  cp.Fire(1, {});
  EXPECT_EQ(order, (std::vector<int>{1}));
}

TEST(ConnectionPointTest, SinksAddedDuringFiringWaitForTheNextEvent) {
  ConnectionPoint cp;
  int late_calls = 0;
  bool added = false;
  AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) {
    if (added) return;
    added = true;
    // Enough new slots to make the list reallocate under the firing loop.
    for (int i = 0; i < 64; ++i) {
      AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) { ++late_calls; });
    }
  });
  cp.Fire(1, {});
  EXPECT_EQ(late_calls, 0);
  EXPECT_EQ(cp.SlotCount(), 65u);
  cp.Fire(1, {});
  EXPECT_EQ(late_calls, 64);
}

TEST(ConnectionPointTest, ASinkFilledIntoAnEarlierEmptySlotDuringFiringIsNotCalledBack) {
  ConnectionPoint cp;
  std::vector<int> order;
  AdviseNew(cp, [](DispId, InvokeFlags, DispParams&) {});
  AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) {
    order.push_back(2);
    if (order.size() == 1) {
      AdviseNew(cp, [&](DispId, InvokeFlags, DispParams&) { order.push_back(1); });
    }
  });
  // Slot 1 is empty; the second sink fills it while the walk is already past it.
  ASSERT_EQ(cp.Unadvise(1), StatusOk);
  cp.Fire(1, {});
  EXPECT_EQ(order, (std::vector<int>{2}));
  cp.Fire(1, {});
  EXPECT_EQ(order, (std::vector<int>{2, 1, 2}));
}

}  // namespace
}  // namespace kivimap::automation
