// An object's type information on the wire: the host describes the ITypeInfo of an object's interface,
// and the client rebuilds an ITypeInfo from the description that lists the same members, parameters,
// defaults and help strings.
#pragma once

#include "automation/interfaces.h"
#include "automation/remote/dispatch.capnp.h"

namespace pgx::remote {

// Describes `info` with the members it inherits from interfaces of its own library, and the whole library
// it belongs to (its enumerations, records, interfaces and classes) when it has one.
HRESULT DescribeTypeInfo(ITypeInfo* info, wire::Dispatch::GetTypeInfoResults::Builder out) noexcept;

// A new ITypeInfo over a copy of the description: the type within its library (GetContainingTypeLib and
// GetRefTypeInfo reach the library's other types), or the type alone. It describes; its members cannot be
// invoked through it (E_NOTIMPL).
HRESULT TypeInfoFromDescription(wire::Dispatch::GetTypeInfoResults::Reader description,
                                ITypeInfo** out) noexcept;

}  // namespace pgx::remote
