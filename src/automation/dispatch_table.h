// Table-driven IDispatch: a class lists its members once (name, dispatch id, the invoke kinds
// the entry answers, and a function that unpacks the arguments), and GetIDsOfNames and Invoke
// are answered from that table. The glue at the end turns a getter, setter or method into such
// a function, so that most entries are one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "automation/guarded.h"
#include "kivimap/interfaces.h"
#include "kivimap/variant.h"

namespace kivimap::automation {

template <class T>
struct DispatchMember {
  std::u16string_view name;
  DispId id;
  InvokeFlags kinds;  // the kinds this entry answers (a getter and a setter are two entries)
  // Unpacks params (natural order via params.Arg(i)), calls the member, stores the result.
  // result may be null.
  Status (*call)(T& self, DispParams& params, Variant* result);
};

// ASCII case-insensitive equality, as member names are matched.
bool NameEqualsNoCase(std::u16string_view a, std::u16string_view b);

template <class T>
Status DispatchGetIDsOfNames(std::span<const DispatchMember<T>> table, std::u16string_view name,
                             DispId* id) {
  if (!id) return StatusPointer;
  for (const auto& m : table) {
    if (NameEqualsNoCase(m.name, name)) {
      *id = m.id;
      return StatusOk;
    }
  }
  return StatusUnknownName;
}

// Finds the entry with this id that answers one of the kinds asked for, and calls it under
// Guarded. A late-bound caller may ask for Method|PropertyGet; the first matching entry wins.
template <class T>
Status DispatchInvoke(std::span<const DispatchMember<T>> table, T& self, DispId id,
                      InvokeFlags kind, DispParams& params, Variant* result) noexcept {
  return Guarded([&] {
    bool id_known = false;
    for (const auto& m : table) {
      if (m.id != id) continue;
      id_known = true;
      if ((m.kinds & kind) != 0) return m.call(self, params, result);
    }
    return id_known ? StatusInvalidArg : StatusMemberNotFound;
  });
}

// Argument unpacking for table entries. Each returns StatusInvalidArg (or StatusBadParamCount
// when the argument is missing) unless the i-th argument converts.
Status ArgInt16(const DispParams& p, std::size_t i, std::int16_t* out);
Status ArgInt32(const DispParams& p, std::size_t i, std::int32_t* out);
Status ArgDouble(const DispParams& p, std::size_t i, double* out);
Status ArgString(const DispParams& p, std::size_t i, WideString* out);
// An object argument; Empty and Null give a null object.
Status ArgObject(const DispParams& p, std::size_t i, IDispatch** out);
// The i-th argument, with references followed; a missing optional argument gives Empty.
Variant ArgVariant(const DispParams& p, std::size_t i);
// Checks the argument count.
inline Status ExpectArgs(const DispParams& p, std::size_t n) {
  return p.count() == n ? StatusOk : StatusBadParamCount;
}

// Result packing; each accepts a null result.
void SetResult(Variant* result, Variant value);

// The glue: table entries made from members. Each checks the argument count first (a wrong one
// gives StatusBadParamCount), unpacks the arguments by the member's parameter types, and packs
// a value the member hands out into the result only when the member succeeded.
namespace glue {

// Getters and methods answer both kinds, as late-bound callers use either for them.
inline constexpr InvokeFlags kGet = DispatchPropertyGet | DispatchMethod;
inline constexpr InvokeFlags kPut = DispatchPropertyPut;
// A property that takes an object, or any value as a Tag does.
inline constexpr InvokeFlags kPutAny = DispatchPropertyPut | DispatchPropertyPutRef;

// Unpacks the i-th argument as the type a member takes.
inline Status ArgAs(const DispParams& p, std::size_t i, std::int16_t* out) {
  return ArgInt16(p, i, out);
}
inline Status ArgAs(const DispParams& p, std::size_t i, std::int32_t* out) {
  return ArgInt32(p, i, out);
}
inline Status ArgAs(const DispParams& p, std::size_t i, double* out) {
  return ArgDouble(p, i, out);
}
inline Status ArgAs(const DispParams& p, std::size_t i, WideString* out) {
  return ArgString(p, i, out);
}
inline Status ArgAs(const DispParams& p, std::size_t i, Variant* out) {
  if (i >= p.count()) return StatusBadParamCount;
  *out = ArgVariant(p, i);
  return StatusOk;
}

// How a value a member hands out becomes the result: numbers, strings and variants as they are,
// an object as its IDispatch.
struct AsVariant {
  Variant operator()(std::int16_t v) const { return Variant(v); }
  Variant operator()(std::int32_t v) const { return Variant(v); }
  Variant operator()(WideString&& v) const { return Variant(std::move(v)); }
  Variant operator()(Variant&& v) const { return std::move(v); }
  template <class I>
  Variant operator()(Ref<I>&& v) const {
    return Variant(static_cast<IDispatch*>(v.get()));
  }
};
// A Date (a double) as a date, not as a number.
struct AsDate {
  Variant operator()(Date v) const { return Variant::FromDate(v); }
};
// A 0/non-0 flag as a boolean.
struct AsBool {
  Variant operator()(VariantBool v) const { return Variant(v != VariantFalse); }
};

// The class and parameter types of a member function pointer.
template <class M>
struct MemberOf;
template <class C, class... A>
struct MemberOf<Status (C::*)(A...)> {
  using Class = C;
  template <std::size_t I>
  using Arg = std::remove_cvref_t<std::tuple_element_t<I, std::tuple<A...>>>;
};
template <auto M>
using ClassOf = typename MemberOf<decltype(M)>::Class;
template <auto M, std::size_t I>
using ArgOf = typename MemberOf<decltype(M)>::template Arg<I>;

// No argument, nothing out: Status (T::*)().
template <auto Call>
Status Method(ClassOf<Call>& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 0); s != StatusOk) return s;
  return (self.*Call)();
}

// No argument, a value out: Status (T::*)(V*), a property get or a method that answers.
template <auto Getter, class Pack = AsVariant>
Status Get(ClassOf<Getter>& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 0); s != StatusOk) return s;
  std::remove_pointer_t<ArgOf<Getter, 0>> value{};
  const Status s = (self.*Getter)(&value);
  if (s == StatusOk) SetResult(result, Pack{}(std::move(value)));
  return s;
}

// One argument, nothing out: Status (T::*)(A), a property put or a method that takes a value.
template <auto Setter>
Status Put(ClassOf<Setter>& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  ArgOf<Setter, 0> value{};
  if (Status s = ArgAs(params, 0, &value); s != StatusOk) return s;
  return (self.*Setter)(value);
}

// One argument, a value out: Status (T::*)(A, V*), as an Item or an Add.
template <auto Call, class Pack = AsVariant>
Status GetWith(ClassOf<Call>& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  ArgOf<Call, 0> argument{};
  if (Status s = ArgAs(params, 0, &argument); s != StatusOk) return s;
  std::remove_pointer_t<ArgOf<Call, 1>> value{};
  const Status s = (self.*Call)(argument, &value);
  if (s == StatusOk) SetResult(result, Pack{}(std::move(value)));
  return s;
}

}  // namespace glue

}  // namespace kivimap::automation
