#pragma once
// The attributes each kind of object starts with: their types, values, and which may be set to what.

#include <string>

#include "visa/attributes.h"
#include "visa/bench_config.h"
#include "visa/resource_name.h"

namespace pgx::visa {

AttributeSet manager_attributes();
// The attributes of a session on resource `name` (owned by resource manager `manager`): `bench` is the
// bench's description of an instrument (null for another resource), `tcpip_address` the peer's numeric
// address of a socket.
AttributeSet session_attributes(const ResourceName& name, const BenchResource* bench,
                                const std::string& tcpip_address, ViObject manager);

// The attribute that is the same value as `attr` in another width (VI_ATTR_USER_DATA_32 and _64), or 0.
ViAttr same_value_in_other_width(ViAttr attr);
// Whether a value is one the attribute takes, beyond its range (the buffer modes take two values each).
bool acceptable_value(ViAttr attr, ViAttrState value);

}  // namespace pgx::visa
