// The type-library model: constant tables, generated from a library's IDL, that describe its enumerations,
// records, interfaces and classes. The generic dispatcher, ITypeInfo, IDL export and type-library
// registration all read these tables; nothing else describes a library.
#pragma once

#include <cstdint>
#include <string_view>

#include "automation/bstr.h"
#include "automation/guid.h"
#include "automation/interfaces.h"
#include "automation/types.h"
#include "automation/variant.h"

namespace pgx::auto_ {

// Calls one C++ member of an interface: `self` is the interface pointer, `args[k]` the address of the
// storage of parameter k (for a pointer parameter: the pointer itself, which may be NULL for an omitted
// optional one).
using MemberCall = HRESULT (*)(void* self, void* const* args);

// The type of a parameter, field or property as the IDL spells it.
struct TypeRef {
  VARTYPE vt;             // type of the value: VT_I4 (also for enumerations), VT_BSTR, VT_DISPATCH,
                          // VT_ARRAY | VT_UI1, VT_RECORD, VT_VARIANT, ...
  std::uint8_t byref;     // 1 when passed through a pointer ([out] long*, SAFEARRAY(...)*, IFoo**)
  const char* idl;        // canonical IDL spelling: "long*", "SAFEARRAY(unsigned char)*", "IChild**"
  const char* type_name;  // enumeration, record or interface name; nullptr for base types
  const IID* iid;         // interface types: the IID to ask an argument for
};

// A parameter's default value ([defaultvalue(...)]).
struct DefaultValue {
  VARTYPE vt;            // VT_EMPTY when there is none
  std::int64_t integer;  // integral and boolean values
  double real;           // VT_R4 / VT_R8
  const char16_t* text;  // VT_BSTR
  const char* idl;       // the literal as written in IDL
};

// The default value as a variant of the type the IDL literal has (VT_I4 for enumerations and plain
// integers). A VT_BSTR result owns its string.
inline void DefaultValueToVariant(const DefaultValue& d, VARIANT& v) {
  VariantInit(&v);
  v.llVal = 0;
  switch (d.vt) {
    case VT_BSTR:
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocString(d.text);
      break;
    case VT_R4:
      v.vt = VT_R4;
      v.fltVal = static_cast<FLOAT>(d.real);
      break;
    case VT_R8:
      v.vt = VT_R8;
      v.dblVal = d.real;
      break;
    case VT_BOOL:
      v.vt = VT_BOOL;
      v.boolVal = d.integer ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_I2:
      v.vt = VT_I2;
      v.iVal = static_cast<SHORT>(d.integer);
      break;
    case VT_UI1:
      v.vt = VT_UI1;
      v.bVal = static_cast<BYTE>(d.integer);
      break;
    default:
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(d.integer);
  }
}

struct ParamInfo {
  const char* name;
  TypeRef type;
  USHORT flags;  // PARAMFLAG_*
  DefaultValue default_value;

  bool is_retval() const { return flags & PARAMFLAG_FRETVAL; }
  bool is_optional() const { return flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT); }
  bool has_default() const { return flags & PARAMFLAG_FHASDEFAULT; }
  bool is_in() const { return flags & PARAMFLAG_FIN; }
  bool is_out() const { return flags & PARAMFLAG_FOUT; }
};

struct FuncInfo {
  const char* name;
  DISPID dispid;
  INVOKEKIND invkind;
  WORD flags;  // FUNCFLAG_*
  const char* helpstring;
  const ParamInfo* params;
  USHORT param_count;
  MemberCall call;  // nullptr for the methods of a dispinterface
};

// A property of a dispinterface.
struct VarInfo {
  const char* name;
  DISPID dispid;
  TypeRef type;
  WORD flags;  // VARFLAG_*
  const char* helpstring;
};

struct EnumValueInfo {
  const char* name;
  LONG value;
  const char* helpstring;
};

struct FieldInfo {
  const char* name;
  TypeRef type;
  std::size_t offset;
  ULONG array_count;  // 0 for a plain field, n for a fixed array of n elements
};

struct ImplTypeInfo {
  const char* name;  // the interface's name
  INT flags;         // IMPLTYPEFLAG_*
  bool dispinterface;
};

struct TypeInfoEntry {
  TYPEKIND kind;
  const char* name;
  GUID guid;
  bool has_guid;
  WORD flags;  // TYPEFLAG_*
  const char* helpstring;
  const char* base;  // interfaces: the interface derived from
  const FuncInfo* funcs;
  USHORT func_count;      // inherited members from interfaces of the library first
  USHORT own_func_count;  // the last own_func_count entries are declared by this type
  const VarInfo* vars;
  USHORT var_count;
  const EnumValueInfo* values;
  USHORT value_count;
  const FieldInfo* fields;
  USHORT field_count;
  const ImplTypeInfo* impls;
  USHORT impl_count;
  ULONG size;
  USHORT alignment;
  const char* tag = nullptr;  // enumerations and records: the C tag when it differs from the name
};

struct LibraryInfo {
  const char* name;
  GUID libid;
  WORD major;
  WORD minor;
  const char* helpstring;
  const char* const* importlibs;
  USHORT importlib_count;
  const TypeInfoEntry* types;
  USHORT type_count;

  // The entry named `name` (exact match), or nullptr.
  const TypeInfoEntry* Find(std::string_view type_name) const;
  const TypeInfoEntry* FindGuid(REFGUID guid) const;
  // Position of an entry of this library.
  USHORT IndexOf(const TypeInfoEntry* entry) const { return static_cast<USHORT>(entry - types); }
};

// Specialised by the generated code for every interface of a library: `static const TypeInfoEntry& type()`
// and `static const LibraryInfo& library()`.
template <class Interface>
struct interface_type_info;

}  // namespace pgx::auto_
