#include "automation/remote/wire_variant.h"

#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "automation/comptr.h"
#include "automation/enum_variant.h"
#include "automation/safearray.h"
#include "automation/vartype_info.h"

namespace pgx::remote {

// Strings and numeric arrays go on the wire as they lie in memory.
static_assert(std::endian::native == std::endian::little, "the wire form assumes a little-endian machine");

using pgx::auto_::ComPtr;

namespace {

// Element types whose values lie in the array's memory as plain numbers.
bool IsRawElementType(VARTYPE vt) {
  switch (vt) {
    case VT_UI1:
    case VT_I1:
    case VT_BOOL:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_ERROR:
      return true;
    default:
      return false;
  }
}

std::size_t RawElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1:
    case VT_I1:
      return 1;
    case VT_BOOL:
    case VT_I2:
    case VT_UI2:
      return 2;
    case VT_R8:
      return 8;
    default:
      return 4;
  }
}

bool IsItemElementType(VARTYPE vt) {
  return vt == VT_BSTR || vt == VT_VARIANT || vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

// The object of an interface pointer as something the wire can carry: IDispatch, or the items of an
// IEnumVARIANT. `as_unknown` tells which union member it goes in.
HRESULT EncodeObject(IUnknown* object, bool as_unknown, wire::Variant::Builder out, ObjectMarshal& objects,
                     HRESULT cannot) {
  if (!object) {
    if (as_unknown) {
      out.setUnknown(nullptr);
    } else {
      out.setDispatch(nullptr);
    }
    return S_OK;
  }
  ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(object->QueryInterface(IID_IDispatch, dispatch.ReleaseAndGetAddressOfVoid())) && dispatch) {
    wire::Dispatch::Client capability = nullptr;
    HRESULT hr = objects.Export(dispatch.Get(), capability);
    if (FAILED(hr)) return hr;
    if (as_unknown) {
      out.setUnknown(kj::mv(capability));
    } else {
      out.setDispatch(kj::mv(capability));
    }
    return S_OK;
  }
  ComPtr<IEnumVARIANT> items;
  if (!as_unknown || FAILED(object->QueryInterface(IID_IEnumVARIANT, items.ReleaseAndGetAddressOfVoid())) ||
      !items) {
    return cannot;
  }
  // An enumerator travels as the values it yields, from a clone so that the original keeps its position.
  ComPtr<IEnumVARIANT> clone;
  if (FAILED(items->Clone(clone.ReleaseAndGetAddressOf())) || !clone) clone = items;
  std::vector<pgx::auto_::Variant> values;
  for (;;) {
    pgx::auto_::Variant v;
    ULONG fetched = 0;
    HRESULT hr = clone->Next(1, &v, &fetched);
    if (FAILED(hr)) return hr;
    if (fetched == 0) break;
    if (values.size() >= kMaxEnumeratorItems) return cannot;
    values.push_back(std::move(v));
  }
  auto list = out.initEnumerator(static_cast<unsigned>(values.size()));
  for (unsigned i = 0; i < values.size(); ++i) {
    HRESULT hr = EncodeVariant(values[i], list[i], objects, cannot);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT EncodeArray(VARTYPE vt, SAFEARRAY* array, wire::Variant::Builder out, ObjectMarshal& objects,
                    HRESULT cannot) {
  if (!array) {
    out.setNullArray(static_cast<VARTYPE>(vt & ~VT_ARRAY));
    return S_OK;
  }
  VARTYPE element = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &element))) return cannot;
  const bool raw = IsRawElementType(element);
  if (!raw && !IsItemElementType(element)) return DISP_E_BADVARTYPE;
  auto wire_array = out.initArray();
  wire_array.setElementType(element);
  const UINT dims = SafeArrayGetDim(array);
  auto bounds = wire_array.initBounds(dims);
  // rgsabound holds the last dimension first.
  for (UINT d = 0; d < dims; ++d) {
    const SAFEARRAYBOUND& b = array->rgsabound[dims - 1 - d];
    bounds[d].setCount(b.cElements);
    bounds[d].setLower(b.lLbound);
  }
  const ULONG count = pgx::auto_::SafeArrayElementCount(array);
  pgx::auto_::SafeArrayData<BYTE> data(array);
  if (FAILED(data.status())) return data.status();
  if (raw) {
    const std::size_t bytes = static_cast<std::size_t>(count) * array->cbElements;
    wire_array.setRaw(capnp::Data::Reader(data.data(), bytes));
    return S_OK;
  }
  auto items = wire_array.initItems(count);
  for (ULONG i = 0; i < count; ++i) {
    const BYTE* p = data.data() + static_cast<std::size_t>(i) * array->cbElements;
    VARIANT item;
    VariantInit(&item);
    switch (element) {
      case VT_BSTR:
        item.vt = VT_BSTR;
        std::memcpy(&item.bstrVal, p, sizeof(BSTR));
        break;
      case VT_DISPATCH:
        item.vt = VT_DISPATCH;
        std::memcpy(&item.pdispVal, p, sizeof(IDispatch*));
        break;
      case VT_UNKNOWN:
        item.vt = VT_UNKNOWN;
        std::memcpy(&item.punkVal, p, sizeof(IUnknown*));
        break;
      default:  // VT_VARIANT
        std::memcpy(&item, p, sizeof(VARIANT));
        break;
    }
    // `item` borrows the element; it is not cleared.
    HRESULT hr = EncodeVariant(item, items[i], objects, cannot);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// The element count of `bounds`, or false when it overflows or exceeds what the message can hold.
bool ElementCount(capnp::List<wire::SafeArray::Bound>::Reader bounds, std::size_t limit, ULONG& count) {
  std::uint64_t total = 1;
  for (auto b : bounds) {
    total *= b.getCount();
    if (total > limit) return false;
  }
  count = static_cast<ULONG>(total);
  return true;
}

HRESULT DecodeArray(wire::SafeArray::Reader in, VARIANT& out, ObjectMarshal& objects, HRESULT cannot) {
  const VARTYPE element = in.getElementType();
  const bool raw = IsRawElementType(element);
  if (!raw && !IsItemElementType(element)) return cannot;
  auto bounds = in.getBounds();
  if (bounds.size() == 0 || bounds.size() > 64) return cannot;
  // The elements must all be in the message: a peer cannot make us allocate more than it sent.
  ULONG count = 0;
  std::size_t available = 0;
  if (raw) {
    if (!in.isRaw()) return cannot;
    available = in.getRaw().size();
  } else {
    if (!in.isItems()) return cannot;
    available = in.getItems().size();
  }
  const std::size_t element_size = raw ? RawElementSize(element) : 1;
  if (!ElementCount(bounds, available / element_size, count)) return cannot;
  const std::size_t expected = static_cast<std::size_t>(count) * element_size;
  if (available != expected) return cannot;
  std::vector<SAFEARRAYBOUND> sab(bounds.size());
  for (unsigned d = 0; d < bounds.size(); ++d) sab[d] = {bounds[d].getCount(), bounds[d].getLower()};
  SAFEARRAY* array = SafeArrayCreate(element, static_cast<UINT>(sab.size()), sab.data());
  if (!array) return E_OUTOFMEMORY;
  pgx::auto_::SafeArray owned = pgx::auto_::SafeArray::Attach(array);
  {
    pgx::auto_::SafeArrayData<BYTE> data(array);
    if (FAILED(data.status())) return data.status();
    if (raw) {
      if (expected) std::memcpy(data.data(), in.getRaw().begin(), expected);
    } else {
      auto items = in.getItems();
      for (ULONG i = 0; i < count; ++i) {
        BYTE* p = data.data() + static_cast<std::size_t>(i) * array->cbElements;
        VARIANT item;
        VariantInit(&item);
        HRESULT hr = DecodeVariant(items[i], item, objects, cannot);
        if (FAILED(hr)) return hr;
        // The element takes over what `item` owns when the types agree.
        if (element == VT_VARIANT) {
          std::memcpy(p, &item, sizeof(VARIANT));
        } else if (element == VT_BSTR && item.vt == VT_BSTR) {
          std::memcpy(p, &item.bstrVal, sizeof(BSTR));
        } else if (element == VT_DISPATCH && item.vt == VT_DISPATCH) {
          std::memcpy(p, &item.pdispVal, sizeof(IDispatch*));
        } else if (element == VT_UNKNOWN && (item.vt == VT_UNKNOWN || item.vt == VT_DISPATCH)) {
          std::memcpy(p, &item.punkVal, sizeof(IUnknown*));
        } else {
          VariantClear(&item);
          return cannot;
        }
      }
    }
  }
  out.vt = static_cast<VARTYPE>(VT_ARRAY | element);
  out.parray = owned.Detach();
  return S_OK;
}

HRESULT DecodeObject(wire::Dispatch::Client capability, VARTYPE vt, VARIANT& out, ObjectMarshal& objects) {
  IDispatch* object = nullptr;
  if (!capnp::ClientHook::from(kj::cp(capability))->isNull()) {
    HRESULT hr = objects.Import(kj::mv(capability), &object);
    if (FAILED(hr)) return hr;
  }
  out.vt = vt;
  if (vt == VT_DISPATCH) {
    out.pdispVal = object;
  } else {
    out.punkVal = object;
  }
  return S_OK;
}

HRESULT DecodeEnumerator(capnp::List<wire::Variant>::Reader in, VARIANT& out, ObjectMarshal& objects,
                         HRESULT cannot) {
  if (in.size() > kMaxEnumeratorItems) return cannot;
  std::vector<pgx::auto_::Variant> values(in.size());
  for (unsigned i = 0; i < in.size(); ++i) {
    HRESULT hr = DecodeVariant(in[i], values[i], objects, cannot);
    if (FAILED(hr)) return hr;
  }
  IEnumVARIANT* items = nullptr;
  HRESULT hr = pgx::auto_::CreateEnumVariant(std::span<const pgx::auto_::Variant>(values), &items);
  if (FAILED(hr)) return hr;
  out.vt = VT_UNKNOWN;
  out.punkVal = items;
  return S_OK;
}

}  // namespace

capnp::Data::Reader Utf16Bytes(std::u16string_view text) {
  return capnp::Data::Reader(reinterpret_cast<const capnp::byte*>(text.data()),
                             text.size() * sizeof(char16_t));
}

std::u16string Utf16FromBytes(capnp::Data::Reader bytes) {
  std::u16string text(bytes.size() / sizeof(char16_t), u'\0');
  if (!text.empty()) std::memcpy(text.data(), bytes.begin(), text.size() * sizeof(char16_t));
  return text;
}

HRESULT EncodeVariant(const VARIANT& value, wire::Variant::Builder out, ObjectMarshal& objects,
                      HRESULT cannot) {
  try {
    // A BYREF value travels as what it refers to.
    VARIANT v;
    if (value.vt & VT_BYREF) {
      if (!value.byref) return E_POINTER;
      const VARTYPE vt = static_cast<VARTYPE>(value.vt & ~VT_BYREF);
      if (vt == VT_VARIANT) {
        if (value.pvarVal->vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
        return EncodeVariant(*value.pvarVal, out, objects, cannot);
      }
      VariantInit(&v);
      v.vt = vt;
      if (vt & VT_ARRAY) {
        v.parray = *value.pparray;
      } else {
        const std::size_t bytes = auto_::detail::ValueBytes(vt);
        if (bytes == 0) return DISP_E_BADVARTYPE;
        std::memcpy(&v.llVal, value.byref, bytes);
      }
      // `v` borrows; it is not cleared.
      return EncodeVariant(v, out, objects, cannot);
    }
    if (value.vt & VT_ARRAY) return EncodeArray(value.vt, value.parray, out, objects, cannot);
    switch (value.vt) {
      case VT_EMPTY:
        out.setEmpty();
        return S_OK;
      case VT_NULL:
        out.setNull();
        return S_OK;
      case VT_I2:
        out.setI2(value.iVal);
        return S_OK;
      case VT_I4:
        out.setI4(value.lVal);
        return S_OK;
      case VT_R4:
        out.setR4(value.fltVal);
        return S_OK;
      case VT_R8:
        out.setR8(value.dblVal);
        return S_OK;
      case VT_CY:
        out.setCy(value.llVal);
        return S_OK;
      case VT_DATE:
        out.setDate(value.date);
        return S_OK;
      case VT_BSTR:
        if (value.bstrVal) {
          out.setBstr(Utf16Bytes(pgx::auto_::BstrView(value.bstrVal)));
        } else {
          out.initBstr(0);
          out.disownBstr();  // leaves the union on bstr with a null pointer: a NULL BSTR
        }
        return S_OK;
      case VT_DISPATCH:
        return EncodeObject(value.pdispVal, false, out, objects, cannot);
      case VT_UNKNOWN:
        return EncodeObject(value.punkVal, true, out, objects, cannot);
      case VT_ERROR:
        out.setError(value.scode);
        return S_OK;
      case VT_BOOL:
        out.setBool(value.boolVal != VARIANT_FALSE);
        return S_OK;
      case VT_I1:
        out.setI1(static_cast<int8_t>(value.cVal));
        return S_OK;
      case VT_UI1:
        out.setUi1(value.bVal);
        return S_OK;
      case VT_UI2:
        out.setUi2(value.uiVal);
        return S_OK;
      case VT_UI4:
        out.setUi4(value.ulVal);
        return S_OK;
      case VT_I8:
        out.setI8(value.llVal);
        return S_OK;
      case VT_UI8:
        out.setUi8(value.ullVal);
        return S_OK;
      case VT_INT:
        out.setInt(value.intVal);
        return S_OK;
      case VT_UINT:
        out.setUint(value.uintVal);
        return S_OK;
      default:
        return DISP_E_BADVARTYPE;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return cannot;
  }
}

HRESULT DecodeVariant(wire::Variant::Reader in, VARIANT& out, ObjectMarshal& objects, HRESULT cannot) {
  VariantInit(&out);
  try {
    HRESULT hr = S_OK;
    switch (in.which()) {
      case wire::Variant::EMPTY:
        return S_OK;
      case wire::Variant::NULL_:
        out.vt = VT_NULL;
        return S_OK;
      case wire::Variant::I2:
        out.vt = VT_I2;
        out.iVal = in.getI2();
        return S_OK;
      case wire::Variant::I4:
        out.vt = VT_I4;
        out.lVal = in.getI4();
        return S_OK;
      case wire::Variant::R4:
        out.vt = VT_R4;
        out.fltVal = in.getR4();
        return S_OK;
      case wire::Variant::R8:
        out.vt = VT_R8;
        out.dblVal = in.getR8();
        return S_OK;
      case wire::Variant::CY:
        out.vt = VT_CY;
        out.llVal = in.getCy();
        return S_OK;
      case wire::Variant::DATE:
        out.vt = VT_DATE;
        out.date = in.getDate();
        return S_OK;
      case wire::Variant::BSTR: {
        BSTR text = nullptr;
        if (in.hasBstr()) {
          auto bytes = in.getBstr();
          if (bytes.size() % sizeof(char16_t) != 0) return cannot;
          const UINT length = static_cast<UINT>(bytes.size() / sizeof(char16_t));
          text = SysAllocStringLen(nullptr, length);
          if (!text) return E_OUTOFMEMORY;
          if (length) std::memcpy(text, bytes.begin(), bytes.size());
        }
        out.vt = VT_BSTR;
        out.bstrVal = text;
        return S_OK;
      }
      case wire::Variant::DISPATCH:
        hr = DecodeObject(in.getDispatch(), VT_DISPATCH, out, objects);
        break;
      case wire::Variant::UNKNOWN:
        hr = DecodeObject(in.getUnknown(), VT_UNKNOWN, out, objects);
        break;
      case wire::Variant::ERROR:
        out.vt = VT_ERROR;
        out.scode = in.getError();
        return S_OK;
      case wire::Variant::BOOL:
        out.vt = VT_BOOL;
        out.boolVal = in.getBool() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      case wire::Variant::I1:
        out.vt = VT_I1;
        out.cVal = static_cast<CHAR>(in.getI1());
        return S_OK;
      case wire::Variant::UI1:
        out.vt = VT_UI1;
        out.bVal = in.getUi1();
        return S_OK;
      case wire::Variant::UI2:
        out.vt = VT_UI2;
        out.uiVal = in.getUi2();
        return S_OK;
      case wire::Variant::UI4:
        out.vt = VT_UI4;
        out.ulVal = in.getUi4();
        return S_OK;
      case wire::Variant::I8:
        out.vt = VT_I8;
        out.llVal = in.getI8();
        return S_OK;
      case wire::Variant::UI8:
        out.vt = VT_UI8;
        out.ullVal = in.getUi8();
        return S_OK;
      case wire::Variant::INT:
        out.vt = VT_INT;
        out.intVal = in.getInt();
        return S_OK;
      case wire::Variant::UINT:
        out.vt = VT_UINT;
        out.uintVal = in.getUint();
        return S_OK;
      case wire::Variant::ARRAY:
        hr = DecodeArray(in.getArray(), out, objects, cannot);
        break;
      case wire::Variant::ENUMERATOR:
        hr = DecodeEnumerator(in.getEnumerator(), out, objects, cannot);
        break;
      case wire::Variant::NULL_ARRAY: {
        const VARTYPE element = in.getNullArray();
        if (!IsRawElementType(element) && !IsItemElementType(element)) return cannot;
        out.vt = static_cast<VARTYPE>(VT_ARRAY | element);
        out.parray = nullptr;
        return S_OK;
      }
      default:
        return cannot;
    }
    if (FAILED(hr)) VariantClear(&out);
    return hr;
  } catch (const std::bad_alloc&) {
    VariantClear(&out);
    return E_OUTOFMEMORY;
  } catch (...) {
    // A malformed message (kj throws for pointers out of bounds, nesting too deep, ...).
    VariantClear(&out);
    return cannot;
  }
}

void EncodeGuid(const GUID& guid, wire::Guid::Builder out) {
  out.setData1(guid.Data1);
  out.setData2(guid.Data2);
  out.setData3(guid.Data3);
  out.setData4(capnp::Data::Reader(guid.Data4, sizeof guid.Data4));
}

bool DecodeGuid(wire::Guid::Reader in, GUID& out) {
  auto data4 = in.getData4();
  if (data4.size() != sizeof out.Data4) return false;
  out.Data1 = in.getData1();
  out.Data2 = in.getData2();
  out.Data3 = in.getData3();
  std::memcpy(out.Data4, data4.begin(), sizeof out.Data4);
  return true;
}

void EncodeExcepInfo(const EXCEPINFO& excep, wire::ExcepInfo::Builder out) {
  out.setCode(excep.wCode);
  if (excep.bstrSource) out.setSource(Utf16Bytes(pgx::auto_::BstrView(excep.bstrSource)));
  if (excep.bstrDescription) out.setDescription(Utf16Bytes(pgx::auto_::BstrView(excep.bstrDescription)));
  if (excep.bstrHelpFile) out.setHelpFile(Utf16Bytes(pgx::auto_::BstrView(excep.bstrHelpFile)));
  out.setHelpContext(excep.dwHelpContext);
  out.setScode(excep.scode);
}

void DecodeExcepInfo(wire::ExcepInfo::Reader in, EXCEPINFO& out) {
  out = EXCEPINFO{};
  auto text = [](bool has, capnp::Data::Reader bytes) -> BSTR {
    if (!has) return nullptr;
    std::u16string s = Utf16FromBytes(bytes);
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  };
  out.wCode = in.getCode();
  out.bstrSource = text(in.hasSource(), in.getSource());
  out.bstrDescription = text(in.hasDescription(), in.getDescription());
  out.bstrHelpFile = text(in.hasHelpFile(), in.getHelpFile());
  out.dwHelpContext = in.getHelpContext();
  out.scode = in.getScode();
}

}  // namespace pgx::remote
