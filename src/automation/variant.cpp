#include "kivimap/variant.h"

#include <cmath>
#include <limits>

namespace kivimap {

namespace {

// A chain of by-reference variants longer than this is taken as a cycle.
constexpr int kMaxRefDepth = 16;

Variant DerefAt(const Variant& v, int depth) {
  if (!v.IsByRef()) return v;
  if (depth > kMaxRefDepth) return Variant();
  switch (v.type()) {
    case VarType::I2:
      return v.i2_ref() ? Variant(*v.i2_ref()) : Variant();
    case VarType::I4:
      return v.i4_ref() ? Variant(*v.i4_ref()) : Variant();
    case VarType::BStr:
      return v.bstr_ref() ? Variant(*v.bstr_ref()) : Variant();
    case VarType::Dispatch:
      return v.dispatch_ref() ? Variant(v.dispatch_ref()->get()) : Variant();
    case VarType::Variant:
      return v.variant_ref() ? DerefAt(*v.variant_ref(), depth + 1) : Variant();
    default:
      return Variant();
  }
}

// Rounds half to even, as the automation runtime's coercions do (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double x) {
  const double floor = std::floor(x);
  const double diff = x - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

Status ToWideInteger(const Variant& in, std::int64_t lo, std::int64_t hi, std::int64_t* out) {
  const Variant v = in.Deref();
  std::int64_t value = 0;
  switch (v.type()) {
    case VarType::Empty:
      value = 0;
      break;
    case VarType::I2:
      value = v.i2();
      break;
    case VarType::I4:
      value = v.i4();
      break;
    case VarType::Bool:
      value = v.boolean() ? -1 : 0;
      break;
    case VarType::R8:
    case VarType::Date: {
      const double r = RoundHalfEven(v.r8());
      if (!(r >= double(lo) && r <= double(hi))) return StatusInvalidArg;  // also NaN
      value = static_cast<std::int64_t>(r);
      break;
    }
    default:
      return StatusInvalidArg;
  }
  if (value < lo || value > hi) return StatusInvalidArg;
  *out = value;
  return StatusOk;
}

}  // namespace

Variant Variant::Deref() const { return DerefAt(*this, 0); }

bool operator==(const Variant& a, const Variant& b) {
  if (a.type_ != b.type_ || a.by_ref_ != b.by_ref_) return false;
  if (a.by_ref_) return a.value_.ref == b.value_.ref;
  switch (a.type_) {
    case VarType::Empty:
    case VarType::Null:
      return true;
    case VarType::I2:
      return a.value_.i2 == b.value_.i2;
    case VarType::I4:
      return a.value_.i4 == b.value_.i4;
    case VarType::R8:
    case VarType::Date:
      return a.value_.r8 == b.value_.r8;
    case VarType::Bool:
      return a.value_.b == b.value_.b;
    case VarType::BStr:
      return a.str_ == b.str_;
    case VarType::Dispatch:
      return a.obj_ == b.obj_;
    case VarType::Variant:
      return false;  // only exists by reference
  }
  return false;
}

Status ToInt16(const Variant& v, std::int16_t* out) {
  if (!out) return StatusPointer;
  std::int64_t value = 0;
  const Status s = ToWideInteger(v, std::numeric_limits<std::int16_t>::min(),
                                 std::numeric_limits<std::int16_t>::max(), &value);
  if (s == StatusOk) *out = static_cast<std::int16_t>(value);
  return s;
}

Status ToInt32(const Variant& v, std::int32_t* out) {
  if (!out) return StatusPointer;
  std::int64_t value = 0;
  const Status s = ToWideInteger(v, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max(), &value);
  if (s == StatusOk) *out = static_cast<std::int32_t>(value);
  return s;
}

DispParams DispParams::FromNatural(std::vector<Variant> natural) {
  DispParams p;
  p.args.assign(std::make_move_iterator(natural.rbegin()), std::make_move_iterator(natural.rend()));
  return p;
}

}  // namespace kivimap
