// Table-driven IDispatch: a class lists its members once (name, dispatch id, the invoke kinds
// the entry answers, and a function that unpacks the arguments), and GetIDsOfNames and Invoke
// are answered from that table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

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

// Finds the entry with this id that answers one of the kinds asked for. A late-bound caller
// may ask for Method|PropertyGet; the first matching entry wins.
template <class T>
Status DispatchInvoke(std::span<const DispatchMember<T>> table, T& self, DispId id,
                      InvokeFlags kind, DispParams& params, Variant* result) {
  bool id_known = false;
  for (const auto& m : table) {
    if (m.id != id) continue;
    id_known = true;
    if ((m.kinds & kind) != 0) return m.call(self, params, result);
  }
  return id_known ? StatusInvalidArg : StatusMemberNotFound;
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

}  // namespace kivimap::automation
