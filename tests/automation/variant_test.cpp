#include "kivimap/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

namespace kivimap {
namespace {

TEST(VariantTest, ReferencesFollowTheCallersVariablesAndStopAtCycles) {
  std::int32_t action = 1;
  const Variant by_ref = Variant::ByRef(&action);
  action = 0;
  EXPECT_EQ(by_ref.Deref(), Variant(std::int32_t{0}));
  WideString command = u"a NOOP";
  Variant inner = Variant::ByRef(&command);
  EXPECT_EQ(Variant::ByRef(&inner).Deref(), Variant(WideString(u"a NOOP")));

  Variant a;
  Variant b = Variant::ByRef(&a);
  a = Variant::ByRef(&b);
  EXPECT_TRUE(a.Deref().IsEmpty());  // instead of looping forever
  EXPECT_TRUE(Variant::ByRef(static_cast<std::int32_t*>(nullptr)).Deref().IsEmpty());
}

// Empty is 0, true is -1, reals round half to even; anything out of range or not a number is
// refused and leaves the output alone.
TEST(VariantTest, ToInt16ConvertsOrRefuses) {
  std::int32_t twelve = 12;
  std::int16_t out = 99;
  for (const auto& [in, expected] :
       {std::pair(Variant(), 0), std::pair(Variant(std::int16_t{-3}), -3),
        std::pair(Variant(std::int32_t{-32768}), -32768), std::pair(Variant(true), -1),
        std::pair(Variant(2.5), 2), std::pair(Variant(3.5), 4), std::pair(Variant(-2.5), -2),
        std::pair(Variant(-3.5), -4), std::pair(Variant(1.51), 2), std::pair(Variant(-0.5), 0),
        std::pair(Variant(32766.5), 32766), std::pair(Variant::FromDate(3.5), 4),
        std::pair(Variant::ByRef(&twelve), 12)}) {
    EXPECT_EQ(ToInt16(in, &out), StatusOk) << expected;
    EXPECT_EQ(out, expected);
  }
  for (const Variant& v :
       {Variant(std::int32_t{32768}), Variant(std::int32_t{-32769}), Variant(32767.5),
        Variant(-32768.6), Variant(HUGE_VAL), Variant(-HUGE_VAL), Variant(std::nan("")),
        Variant::Null(), Variant(WideString(u"1")), Variant(static_cast<IDispatch*>(nullptr))}) {
    EXPECT_EQ(ToInt16(v, &out), StatusInvalidArg);
  }
  EXPECT_EQ(out, 12);  // untouched by the failures
  EXPECT_EQ(ToInt16(Variant(), nullptr), StatusPointer);
  std::int32_t wide = 0;
  EXPECT_EQ(ToInt32(Variant(2147483647.5), &wide), StatusInvalidArg);  // rounds to 2^31
  EXPECT_EQ(ToInt32(Variant(-2147483648.0), &wide), StatusOk);
  EXPECT_EQ(wide, std::numeric_limits<std::int32_t>::min());
}

TEST(VariantTest, DispParamsLayOutTheLastArgumentFirst) {
  DispParams p = DispParams::FromNatural({Variant(std::int32_t{1}), Variant(u"two"), Variant()});
  ASSERT_EQ(p.count(), 3u);
  EXPECT_TRUE(p.args[0].IsEmpty());
  EXPECT_EQ(p.args[2], Variant(std::int32_t{1}));
  EXPECT_EQ(p.Arg(1), Variant(u"two"));
}

}  // namespace
}  // namespace kivimap
