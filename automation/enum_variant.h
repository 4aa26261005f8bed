// An IEnumVARIANT over a copy of a list of values: what a collection hands out from _NewEnum.
#pragma once

#include <span>

#include "automation/interfaces.h"
#include "automation/safearray.h"
#include "automation/variant.h"

namespace pgx::auto_ {

// The enumerator holds its own deep copy of `items` (interface references AddRef'd), so the collection may
// change or go away while it is in use. Clones share the copy and start at the clone source's position.
//   Next(n, out, fetched): copies up to n values into out[] (each treated as holding nothing), sets
//     *fetched (which may be NULL only when n is 1), S_FALSE when fewer than n remained.
//   Skip(n): S_FALSE when fewer than n remained (the position is then at the end).
HRESULT CreateEnumVariant(std::span<const VARIANT> items, IEnumVARIANT** out) noexcept;
HRESULT CreateEnumVariant(std::span<const Variant> items, IEnumVARIANT** out) noexcept;
// Same, over the elements of a one-dimensional array of any element type the array supports.
HRESULT CreateEnumVariantFromArray(SAFEARRAY* items, IEnumVARIANT** out) noexcept;

}  // namespace pgx::auto_
