// The object model at the host boundary: reference-counted objects behind abstract interfaces,
// Ref<T> to hold a reference, and IDispatch for late-bound access by dispatch id.
//
// Counts start at 0; whoever creates an object takes the first reference (Ref<T> r(new T) holds
// count 1). Objects are used on one thread; counts are not atomic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "kivimap/status.h"

namespace kivimap {

class IUnknown {
 public:
  virtual std::uint32_t AddRef() = 0;   // returns the new count
  virtual std::uint32_t Release() = 0;  // returns the new count; 0 means the object is gone

 protected:
  virtual ~IUnknown() = default;
};

// Holds one reference. Constructing from a raw pointer takes a new reference; Adopt takes over
// a reference the caller already owns.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}  // NOLINT
  explicit Ref(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  Ref(const Ref<U>& o) : Ref(o.get()) {}  // NOLINT: upcast
  template <class U>
  Ref(Ref<U>&& o) noexcept : p_(o.Detach()) {}  // NOLINT: upcast
  ~Ref() { Reset(); }

  Ref& operator=(const Ref& o) {
    Ref(o).Swap(*this);
    return *this;
  }
  Ref& operator=(Ref&& o) noexcept {
    Ref(std::move(o)).Swap(*this);
    return *this;
  }

  static Ref Adopt(T* p) {
    Ref r;
    r.p_ = p;
    return r;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(Ref& o) noexcept { std::swap(p_, o.p_); }

  friend bool operator==(const Ref& a, const Ref& b) { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

using DispId = std::int32_t;

// Kinds of Invoke, as bits; a late-bound caller may combine Method and PropertyGet.
using InvokeFlags = std::uint16_t;
inline constexpr InvokeFlags DispatchMethod = 1;
inline constexpr InvokeFlags DispatchPropertyGet = 2;
inline constexpr InvokeFlags DispatchPropertyPut = 4;
inline constexpr InvokeFlags DispatchPropertyPutRef = 8;

inline constexpr DispId DispIdValue = 0;  // the default member

class Variant;
struct DispParams;

// Late-bound access: every host-visible class and every event sink answers by dispatch id.
class IDispatch : public IUnknown {
 public:
  // Finds the dispatch id of a member by name, ignoring ASCII case.
  virtual Status GetIDsOfNames(std::u16string_view name, DispId* id) = 0;
  // Calls a member. Arguments are in params, last argument first. result may be null.
  // An unknown id gives StatusMemberNotFound; a wrong argument type StatusInvalidArg.
  virtual Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) = 0;
};

}  // namespace kivimap
