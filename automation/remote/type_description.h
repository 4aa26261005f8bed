// An object's type information on the wire: the host describes the ITypeInfo of an object's interface,
// and the client rebuilds an ITypeInfo from the description that lists the same members, parameters,
// defaults and help strings.
#pragma once

#include "automation/interfaces.h"
#include "automation/remote/dispatch.capnp.h"

namespace pgx::remote {

// Describes `info` and the members it inherits from interfaces of its own library.
HRESULT DescribeTypeInfo(ITypeInfo* info, wire::TypeDescription::Builder out) noexcept;

// A new ITypeInfo over a copy of `description`. It describes; it cannot invoke (E_NOTIMPL), and types it
// refers to by name are not followed.
HRESULT TypeInfoFromDescription(wire::TypeDescription::Reader description, ITypeInfo** out) noexcept;

}  // namespace pgx::remote
