#include "store/variant_args.h"

namespace kivimap::store {
Variant ResolveVariant(const Variant& v) { return v.Deref(); }

std::optional<std::int32_t> VariantIndex(const Variant& resolved) {
  if (resolved.IsByRef()) return std::nullopt;
  switch (resolved.type()) {
    case VarType::I2:
      return resolved.i2();
    case VarType::I4:
      return resolved.i4();
    default:
      return std::nullopt;
  }
}

const WideString* VariantString(const Variant& resolved) {
  if (resolved.IsByRef() || resolved.type() != VarType::BStr) return nullptr;
  return &resolved.bstr();
}

IDispatch* VariantObject(const Variant& resolved) {
  if (resolved.IsByRef() || resolved.type() != VarType::Dispatch) return nullptr;
  return resolved.dispatch();
}

}  // namespace kivimap::store
