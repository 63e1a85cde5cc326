// Variant: the value type of late-bound calls and of the Tag properties. It holds nothing
// (Empty), Null, a 16- or 32-bit integer, a double, a boolean (-1 true, 0 false), a WideString,
// a date, or a dispatch object; or a reference to a caller's variable of one of those types
// (ByRef), which is how events hand Action and Command to every sink in turn.
#pragma once

#include <cstdint>
#include <vector>

#include "kivimap/object.h"
#include "kivimap/wide_string.h"

namespace kivimap {

using VariantBool = std::int16_t;
inline constexpr VariantBool VariantTrue = -1;
inline constexpr VariantBool VariantFalse = 0;

// An automation date: days since 30 December 1899; the fraction is the time of day.
using Date = double;

// VarType::Date is scoped and cannot be confused with the Date type, but g++ warns about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
enum class VarType : std::uint16_t {
  Empty = 0,
  Null = 1,
  I2 = 2,
  I4 = 3,
  R8 = 5,
  Date = 7,
  BStr = 8,
  Dispatch = 9,
  Bool = 11,
  Variant = 12,  // only as ByRef: a reference to another Variant
};
#pragma GCC diagnostic pop

class Variant {
 public:
  Variant() = default;                                                                   // Empty
  Variant(std::int16_t v) : type_(VarType::I2) { value_.i2 = v; }                        // NOLINT
  Variant(std::int32_t v) : type_(VarType::I4) { value_.i4 = v; }                        // NOLINT
  Variant(double v) : type_(VarType::R8) { value_.r8 = v; }                              // NOLINT
  Variant(bool v) : type_(VarType::Bool) { value_.b = v ? VariantTrue : VariantFalse; }  // NOLINT
  Variant(WideString v) : type_(VarType::BStr), str_(std::move(v)) {}                    // NOLINT
  Variant(const char16_t* v) : Variant(WideString(v)) {}                                 // NOLINT
  Variant(const char*) = delete;  // 8-bit text would silently become a boolean
  Variant(IDispatch* v) : type_(VarType::Dispatch), obj_(v) {}  // NOLINT: null allowed
  Variant(const Ref<IDispatch>& v) : Variant(v.get()) {}        // NOLINT

  static Variant Null() {
    Variant v;
    v.type_ = VarType::Null;
    return v;
  }
  static Variant FromDate(Date d) {
    Variant v;
    v.type_ = VarType::Date;
    v.value_.r8 = d;
    return v;
  }
  // References to the caller's variables; the variable must outlive the variant.
  static Variant ByRef(std::int16_t* p) { return MakeRef(VarType::I2, p); }
  static Variant ByRef(std::int32_t* p) { return MakeRef(VarType::I4, p); }
  static Variant ByRef(WideString* p) { return MakeRef(VarType::BStr, p); }
  static Variant ByRef(Ref<IDispatch>* p) { return MakeRef(VarType::Dispatch, p); }
  static Variant ByRef(Variant* p) { return MakeRef(VarType::Variant, p); }

  VarType type() const { return type_; }
  bool IsByRef() const { return by_ref_; }
  bool IsEmpty() const { return type_ == VarType::Empty && !by_ref_; }

  // By-value accessors; valid only for the matching type() with IsByRef() false.
  std::int16_t i2() const { return value_.i2; }
  std::int32_t i4() const { return value_.i4; }
  double r8() const { return value_.r8; }
  Date date() const { return value_.r8; }
  VariantBool boolean() const { return value_.b; }
  const WideString& bstr() const { return str_; }
  IDispatch* dispatch() const { return obj_.get(); }

  // By-reference accessors; valid only for the matching type() with IsByRef() true.
  std::int16_t* i2_ref() const { return static_cast<std::int16_t*>(value_.ref); }
  std::int32_t* i4_ref() const { return static_cast<std::int32_t*>(value_.ref); }
  WideString* bstr_ref() const { return static_cast<WideString*>(value_.ref); }
  Ref<IDispatch>* dispatch_ref() const { return static_cast<Ref<IDispatch>*>(value_.ref); }
  Variant* variant_ref() const { return static_cast<Variant*>(value_.ref); }

  // A by-value copy of what a by-reference variant points at (a by-value one is copied as is).
  Variant Deref() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  static Variant MakeRef(VarType t, void* p) {
    Variant v;
    v.type_ = t;
    v.by_ref_ = true;
    v.value_.ref = p;
    return v;
  }

  VarType type_ = VarType::Empty;
  bool by_ref_ = false;
  union {
    std::int16_t i2;
    std::int32_t i4;
    double r8;
    VariantBool b;
    void* ref;
  } value_{};
  WideString str_;
  Ref<IDispatch> obj_;
};

// The automation runtime's conversions, following references. Empty converts to 0, booleans to
// -1/0, reals are rounded half to even; a value out of range, Null, a string or an object fails
// with StatusInvalidArg.
Status ToInt16(const Variant& v, std::int16_t* out);
Status ToInt32(const Variant& v, std::int32_t* out);

// The arguments of one Invoke, laid out last argument first as late-bound callers pass them.
struct DispParams {
  std::vector<Variant> args;

  DispParams() = default;
  // Builds from arguments given in natural order (first argument first).
  static DispParams FromNatural(std::vector<Variant> natural);

  std::size_t count() const { return args.size(); }
  // The i-th argument in natural order (0 = first).
  Variant& Arg(std::size_t i) { return args[args.size() - 1 - i]; }
  const Variant& Arg(std::size_t i) const { return args[args.size() - 1 - i]; }
};

}  // namespace kivimap
