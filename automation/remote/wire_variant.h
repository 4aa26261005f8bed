// Automation values on the wire: VARIANTs (safe arrays and objects included), GUIDs, strings and EXCEPINFO
// to and from their Cap'n Proto form (dispatch.capnp).
#pragma once

#include <string_view>

#include "automation/interfaces.h"
#include "automation/remote/dispatch.capnp.h"

namespace pgx::remote {

// How objects cross: each side sends its objects as capabilities and turns received capabilities back
// into objects in its own way (the host exports its objects; the client sends back only what it got
// from the same host).
class ObjectMarshal {
 public:
  // The capability for `object` (never NULL), or the HRESULT why it cannot be sent.
  virtual HRESULT Export(IDispatch* object, wire::Dispatch::Client& out) = 0;
  // A new reference for a received non-null capability, or the HRESULT why there is none.
  virtual HRESULT Import(wire::Dispatch::Client capability, IDispatch** out) = 0;

 protected:
  ~ObjectMarshal() = default;
};

// The most elements an array or enumeration on the wire may have, and how deep values may nest: a peer
// cannot make the receiver allocate more than the message itself justifies.
constexpr unsigned kMaxEnumeratorItems = 1u << 20;

// The first segment of a call's or an answer's message. Most are far smaller (a property get is a few
// dozen words); Cap'n Proto's own default (8 KiB, zeroed) costs more than filling the message, and a
// larger one simply continues in more segments. With the RPC envelope it stays under 1 KiB, below
// which glibc's allocator does not first consolidate its free lists.
inline constexpr capnp::MessageSize kCallMessageSize{64, 4};

// Writes `value` (a BYREF variant is written as the value it refers to). Fails with the HRESULT of a value
// that cannot travel: DISP_E_BADVARTYPE for types the wire lacks (records, decimals), or what Export says;
// `cannot` is the code for anything else that cannot be sent (RPC_E_CLIENT_CANTMARSHAL_DATA or
// RPC_E_SERVER_CANTMARSHAL_DATA, by the side).
HRESULT EncodeVariant(const VARIANT& value, wire::Variant::Builder out, ObjectMarshal& objects,
                      HRESULT cannot);
// Reads a value into `out`, which holds nothing yet; on failure `out` is left VT_EMPTY and the result is
// `cannot` (RPC_E_CLIENT_CANTUNMARSHAL_DATA or RPC_E_SERVER_CANTUNMARSHAL_DATA) for malformed data, or what
// Import says.
HRESULT DecodeVariant(wire::Variant::Reader in, VARIANT& out, ObjectMarshal& objects, HRESULT cannot);

void EncodeGuid(const GUID& guid, wire::Guid::Builder out);
bool DecodeGuid(wire::Guid::Reader in, GUID& out);

// UTF-16 text as wire data (little-endian code units) and back.
capnp::Data::Reader Utf16Bytes(std::u16string_view text);
std::u16string Utf16FromBytes(capnp::Data::Reader bytes);

// EXCEPINFO: its strings are written as they are and read into new BSTRs; `out` is overwritten.
void EncodeExcepInfo(const EXCEPINFO& excep, wire::ExcepInfo::Builder out);
void DecodeExcepInfo(wire::ExcepInfo::Reader in, EXCEPINFO& out);

}  // namespace pgx::remote
