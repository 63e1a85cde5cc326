#include "kivimap/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kivimap {
namespace {

TEST(VariantTest, DerefFollowsReferencesToTheCallersVariables) {
  std::int32_t action = 1;
  WideString command = u"a NOOP";
  const Variant by_ref = Variant::ByRef(&action);
  EXPECT_TRUE(by_ref.IsByRef());
  EXPECT_EQ(by_ref.Deref(), Variant(std::int32_t{1}));
  action = 0;
  EXPECT_EQ(by_ref.Deref(), Variant(std::int32_t{0}));

  Variant inner = Variant::ByRef(&command);
  const Variant outer = Variant::ByRef(&inner);
  EXPECT_EQ(outer.Deref(), Variant(WideString(u"a NOOP")));

  Variant by_value(std::int16_t{7});
  EXPECT_EQ(by_value.Deref(), by_value);
}

TEST(VariantTest, ACycleOfReferencesDerefsToEmptyInsteadOfHanging) {
  Variant a;
  Variant b = Variant::ByRef(&a);
  a = Variant::ByRef(&b);
  EXPECT_TRUE(a.Deref().IsEmpty());
  EXPECT_TRUE(Variant::ByRef(static_cast<std::int32_t*>(nullptr)).Deref().IsEmpty());
}

TEST(VariantTest, EqualityComparesTypeAndValue) {
  EXPECT_EQ(Variant(), Variant());
  EXPECT_FALSE(Variant() == Variant::Null());
  EXPECT_FALSE(Variant(std::int16_t{1}) == Variant(std::int32_t{1}));
  EXPECT_FALSE(Variant(1.0) == Variant::FromDate(1.0));
  EXPECT_EQ(Variant(true), Variant(true));
  EXPECT_FALSE(Variant(true) == Variant(false));
  EXPECT_FALSE(Variant(WideString()) == Variant(WideString::Empty()));
  std::int32_t x = 0, y = 0;
  EXPECT_EQ(Variant::ByRef(&x), Variant::ByRef(&x));
  EXPECT_FALSE(Variant::ByRef(&x) == Variant::ByRef(&y));
  EXPECT_FALSE(Variant::ByRef(&x) == Variant(std::int32_t{0}));
}

TEST(VariantTest, ToInt16ConvertsAsTheRuntimeDoes) {
  std::int16_t out = 99;
  EXPECT_EQ(ToInt16(Variant(), &out), StatusOk);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(ToInt16(Variant(std::int32_t{-32768}), &out), StatusOk);
  EXPECT_EQ(out, -32768);
  EXPECT_EQ(ToInt16(Variant(true), &out), StatusOk);
  EXPECT_EQ(out, -1);
  EXPECT_EQ(ToInt16(Variant(false), &out), StatusOk);
  EXPECT_EQ(out, 0);

  struct Rounding {
    double in;
    std::int16_t out;
  };
  for (const Rounding r : {Rounding{2.5, 2},
                           {3.5, 4},
                           {-2.5, -2},
                           {-3.5, -4},
                           {1.4999, 1},
                           {1.5001, 2},
                           {0.5, 0},
                           {-0.5, 0},
                           {32766.5, 32766}}) {
    EXPECT_EQ(ToInt16(Variant(r.in), &out), StatusOk) << r.in;
    EXPECT_EQ(out, r.out) << r.in;
  }
  EXPECT_EQ(ToInt16(Variant::FromDate(3.5), &out), StatusOk);
  EXPECT_EQ(out, 4);

  std::int32_t ref_target = 12;
  EXPECT_EQ(ToInt16(Variant::ByRef(&ref_target), &out), StatusOk);
  EXPECT_EQ(out, 12);
}

TEST(VariantTest, ToInt16RefusesWhatDoesNotFit) {
  std::int16_t out = 5;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const Variant& v :
       {Variant(std::int32_t{32768}), Variant(std::int32_t{-32769}), Variant(32767.5),
        Variant(-32768.6), Variant(nan), Variant(inf), Variant(-inf), Variant::Null(),
        Variant(WideString(u"1")), Variant(static_cast<IDispatch*>(nullptr))}) {
    EXPECT_EQ(ToInt16(v, &out), StatusInvalidArg);
  }
  EXPECT_EQ(out, 5);  // untouched by the failures
  EXPECT_EQ(ToInt16(Variant(), nullptr), StatusPointer);
}

TEST(VariantTest, ToInt32UsesTheFullRange) {
  std::int32_t out = 0;
  EXPECT_EQ(ToInt32(Variant(2147483647.0), &out), StatusOk);
  EXPECT_EQ(out, 2147483647);
  EXPECT_EQ(ToInt32(Variant(2147483647.5), &out), StatusInvalidArg);  // rounds to 2^31
  EXPECT_EQ(ToInt32(Variant(-2147483648.0), &out), StatusOk);
  EXPECT_EQ(out, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ToInt32(Variant(std::int16_t{-3}), &out), StatusOk);
  EXPECT_EQ(out, -3);
}

TEST(VariantTest, DispParamsLayOutTheLastArgumentFirst) {
  DispParams p = DispParams::FromNatural({Variant(std::int32_t{1}), Variant(u"two"), Variant()});
  ASSERT_EQ(p.count(), 3u);
  EXPECT_TRUE(p.args[0].IsEmpty());
  EXPECT_EQ(p.args[2], Variant(std::int32_t{1}));
  EXPECT_EQ(p.Arg(0), Variant(std::int32_t{1}));
  EXPECT_EQ(p.Arg(1), Variant(u"two"));
}

}  // namespace
}  // namespace kivimap
