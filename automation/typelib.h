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

// How a default value of each variant type is stored in a VARIANT: one row per type the IDL generator can
// give a [defaultvalue] (the type of its parameter: VT_I4 for enumerations, VT_R8 or VT_BSTR or VT_I4 for a
// VARIANT). The dispatcher and ITypeInfo both read defaults through this table, so they cannot disagree.
struct DefaultValueType {
  VARTYPE vt;
  void (*store)(const DefaultValue& d, VARIANT& v);  // sets the value member of vt
};
inline constexpr DefaultValueType kDefaultValueTypes[] = {
    {VT_I2, [](const DefaultValue& d, VARIANT& v) { v.iVal = static_cast<SHORT>(d.integer); }},
    {VT_I4, [](const DefaultValue& d, VARIANT& v) { v.lVal = static_cast<LONG>(d.integer); }},
    {VT_R4, [](const DefaultValue& d, VARIANT& v) { v.fltVal = static_cast<FLOAT>(d.real); }},
    {VT_R8, [](const DefaultValue& d, VARIANT& v) { v.dblVal = d.real; }},
    {VT_BSTR, [](const DefaultValue& d, VARIANT& v) { v.bstrVal = SysAllocString(d.text); }},
    {VT_BOOL,
     [](const DefaultValue& d, VARIANT& v) { v.boolVal = d.integer ? VARIANT_TRUE : VARIANT_FALSE; }},
    {VT_UI1, [](const DefaultValue& d, VARIANT& v) { v.bVal = static_cast<BYTE>(d.integer); }},
    {VT_UI2, [](const DefaultValue& d, VARIANT& v) { v.uiVal = static_cast<USHORT>(d.integer); }},
    {VT_UI4, [](const DefaultValue& d, VARIANT& v) { v.ulVal = static_cast<ULONG>(d.integer); }},
};

// The default value as a variant of its own type (the row of kDefaultValueTypes for d.vt). A VT_BSTR result
// owns its string. A type the table does not list gives VT_EMPTY and false.
inline bool DefaultValueToVariant(const DefaultValue& d, VARIANT& v) {
  VariantInit(&v);
  v.llVal = 0;
  for (const DefaultValueType& type : kDefaultValueTypes) {
    if (type.vt == d.vt) {
      v.vt = d.vt;
      type.store(d, v);
      return true;
    }
  }
  return false;
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
