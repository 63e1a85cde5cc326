#include "automation/dispatch_table.h"

#include <utility>

#include "common/ascii.h"

namespace kivimap::automation {

bool NameEqualsNoCase(std::u16string_view a, std::u16string_view b) { return EqualsNoCase(a, b); }

Status ArgInt16(const DispParams& p, std::size_t i, std::int16_t* out) {
  if (i >= p.count()) return StatusBadParamCount;
  return ToInt16(p.Arg(i), out);
}

Status ArgInt32(const DispParams& p, std::size_t i, std::int32_t* out) {
  if (i >= p.count()) return StatusBadParamCount;
  return ToInt32(p.Arg(i), out);
}

Status ArgDouble(const DispParams& p, std::size_t i, double* out) {
  if (i >= p.count()) return StatusBadParamCount;
  if (!out) return StatusPointer;
  const Variant v = p.Arg(i).Deref();
  switch (v.type()) {
    case VarType::Empty:
      *out = 0;
      return StatusOk;
    case VarType::I2:
      *out = v.i2();
      return StatusOk;
    case VarType::I4:
      *out = v.i4();
      return StatusOk;
    case VarType::R8:
    case VarType::Date:
      *out = v.r8();
      return StatusOk;
    case VarType::Bool:
      *out = v.boolean() ? -1.0 : 0.0;
      return StatusOk;
    default:
      return StatusInvalidArg;
  }
}

Status ArgString(const DispParams& p, std::size_t i, WideString* out) {
  if (i >= p.count()) return StatusBadParamCount;
  if (!out) return StatusPointer;
  const Variant& v = p.Arg(i);
  if (v.type() == VarType::BStr) {
    if (v.IsByRef()) {
      if (!v.bstr_ref()) return StatusInvalidArg;
      *out = *v.bstr_ref();
    } else {
      *out = v.bstr();
    }
    return StatusOk;
  }
  Variant target = v.Deref();
  if (target.type() != VarType::BStr) return StatusInvalidArg;
  *out = target.bstr();
  return StatusOk;
}

Status ArgObject(const DispParams& p, std::size_t i, IDispatch** out) {
  if (i >= p.count()) return StatusBadParamCount;
  if (!out) return StatusPointer;
  const Variant v = p.Arg(i).Deref();
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
      *out = nullptr;
      return StatusOk;
    case VarType::Dispatch:
      *out = v.dispatch();  // still held by the caller's argument
      return StatusOk;
    default:
      return StatusInvalidArg;
  }
}

Variant ArgVariant(const DispParams& p, std::size_t i) {
  if (i >= p.count()) return Variant();
  return p.Arg(i).Deref();
}

void SetResult(Variant* result, Variant value) {
  if (result) *result = std::move(value);
}

}  // namespace kivimap::automation
