// How the collections read their variant arguments: an index, a name or an object, each given
// directly or by reference.
#pragma once

#include <cstdint>
#include <optional>

#include "kivimap/variant.h"

namespace kivimap::store {

// The value a variant stands for, with references (also chains of them) followed.
Variant ResolveVariant(const Variant& v);

// A 16- or 32-bit integer (after ResolveVariant); other types give nothing.
std::optional<std::int32_t> VariantIndex(const Variant& resolved);
// A string (after ResolveVariant), or null.
const WideString* VariantString(const Variant& resolved);
// A dispatch object (after ResolveVariant), or null (also for a null object).
IDispatch* VariantObject(const Variant& resolved);

}  // namespace kivimap::store
