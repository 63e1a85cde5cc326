// Building blocks for the dispatch tables of the store classes: each turns one interface member
// into the call of a DispatchMember entry, unpacking the arguments and packing the result.
#pragma once

#include <cstdint>
#include <utility>

#include "automation/dispatch_table.h"
#include "kivimap/interfaces.h"

namespace kivimap::store::dispatch {

using automation::ArgInt16;
using automation::ArgInt32;
using automation::ArgString;
using automation::ArgVariant;
using automation::ExpectArgs;
using automation::SetResult;

// Getters and methods answer both kinds, as late-bound callers use either for them.
inline constexpr InvokeFlags kGet = DispatchPropertyGet | DispatchMethod;
inline constexpr InvokeFlags kPut = DispatchPropertyPut;
inline constexpr InvokeFlags kPutAny = DispatchPropertyPut | DispatchPropertyPutRef;

inline Variant ToVariant(std::int16_t v) { return Variant(v); }
inline Variant ToVariant(std::int32_t v) { return Variant(v); }
inline Variant ToVariant(WideString&& v) { return Variant(std::move(v)); }
inline Variant ToVariant(Variant&& v) { return std::move(v); }
template <class I>
Variant ToVariant(Ref<I>&& v) {
  return Variant(static_cast<IDispatch*>(v.get()));
}

// A property get or a method without arguments.
template <class T, class V, Status (T::*Getter)(V*)>
Status Get(T& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 0); s != StatusOk) return s;
  V value{};
  const Status s = (self.*Getter)(&value);
  if (s == StatusOk) SetResult(result, ToVariant(std::move(value)));
  return s;
}

template <class T, Status (T::*Put)(std::int32_t)>
Status PutInt32(T& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  std::int32_t value = 0;
  if (Status s = ArgInt32(params, 0, &value); s != StatusOk) return s;
  return (self.*Put)(value);
}

template <class T, Status (T::*Put)(const WideString&)>
Status PutString(T& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  WideString value;
  if (Status s = ArgString(params, 0, &value); s != StatusOk) return s;
  return (self.*Put)(value);
}

template <class T, Status (T::*Put)(const Variant&)>
Status PutVariant(T& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  return (self.*Put)(ArgVariant(params, 0));
}

template <class T, Status (T::*Call)()>
Status Method(T& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 0); s != StatusOk) return s;
  return (self.*Call)();
}

}  // namespace kivimap::store::dispatch
