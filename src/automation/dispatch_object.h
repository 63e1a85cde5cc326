// The base every host-visible implementation class derives from: the reference count, and a
// liveness anchor so that non-owning links and code running after an event can tell whether the
// object still exists.
#pragma once

#include <cstdint>
#include <memory>

#include "automation/guarded.h"
#include "kivimap/object.h"

namespace kivimap::automation {

// Owns a token that expires when the object is destroyed. WeakRef and Liveness watch it.
class LifeAnchor {
 public:
  LifeAnchor() : token_(std::make_shared<char>(0)) {}
  LifeAnchor(const LifeAnchor&) = delete;
  LifeAnchor& operator=(const LifeAnchor&) = delete;
  std::weak_ptr<char> LifeToken() const { return token_; }

 protected:
  virtual ~LifeAnchor() = default;

 private:
  std::shared_ptr<char> token_;
};

// A token taken before running code (an event) that may destroy the object.
class Liveness {
 public:
  Liveness() = default;
  explicit Liveness(const LifeAnchor* anchor) {
    if (anchor) token_ = anchor->LifeToken();
  }
  bool alive() const { return !token_.expired(); }

 private:
  std::weak_ptr<char> token_;
};

// A non-owning link that reads as null once its target is gone. T must derive from LifeAnchor
// (or be an interface of such a class); a target that does not gives a null link.
template <class T>
class WeakRef {
 public:
  WeakRef() = default;
  WeakRef(T* p) { Reset(p); }  // NOLINT
  void Reset(T* p = nullptr) {
    p_ = nullptr;
    token_.reset();
    if (const auto* anchor = dynamic_cast<const LifeAnchor*>(p)) {
      p_ = p;
      token_ = anchor->LifeToken();
    }
  }
  T* get() const { return token_.expired() ? nullptr : p_; }
  explicit operator bool() const { return get() != nullptr; }

 private:
  T* p_ = nullptr;
  std::weak_ptr<char> token_;
};

// Implements IUnknown for an interface: count from 0, delete at 0.
template <class Iface>
class DispatchObject : public Iface, public LifeAnchor {
 public:
  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    const std::uint32_t n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  std::uint32_t RefCount() const { return refs_; }

 protected:
  DispatchObject() = default;
  ~DispatchObject() override = default;

 private:
  std::uint32_t refs_ = 0;
};

// What every host factory does: hands a new object (from make(), a raw pointer or a Ref) to *out,
// under Guarded.
template <class Iface, class Make>
Status HandOut(Ref<Iface>* out, Make make) {
  if (!out) return StatusPointer;
  return Guarded([&] {
    *out = Ref<Iface>(make());
    return StatusOk;
  });
}

}  // namespace kivimap::automation
