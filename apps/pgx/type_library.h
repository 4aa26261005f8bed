// The server's type library as a client reads it at run time: through IDispatch::GetTypeInfo, the
// ITypeInfo of each interface (FUNCDESC, ELEMDESC, parameter flags and defaults) and the ITypeLib that
// contains them (enumerations, records). pgx types every value it passes and names every value it prints
// from what is read here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/comptr.h"
#include "automation/interfaces.h"
#include "automation/variant.h"

namespace pgx::cli {

// The type of a parameter or result as the library describes it.
struct TypeDesc {
  VARTYPE vt = VT_EMPTY;      // VT_I4 for an enumeration, VT_DISPATCH for an interface, VT_ARRAY | VT_UI1
                              // for SAFEARRAY(unsigned char), VT_RECORD for a record; VT_EMPTY when unknown
  bool byref = false;         // passed through a pointer: [out] and [in, out] parameters
  TYPEKIND kind = TKIND_MAX;  // the kind of a type of the library (TKIND_MAX for a base type)
  std::string name;           // "PgxPulseMode", "IChannel", "_ViAttributeInfo"; empty for base types

  bool IsEnum() const { return kind == TKIND_ENUM; }
  bool IsObject() const { return vt == VT_DISPATCH || vt == VT_UNKNOWN; }
  // The IDL spelling: "double", "PgxPulseMode", "IChannel*", "SAFEARRAY(unsigned char)", plus "*" when
  // passed by reference.
  std::string Idl() const;
};

struct ParamDesc {
  std::string name;
  TypeDesc type;
  USHORT flags = 0;  // PARAMFLAG_*
  std::optional<auto_::Variant> default_value;

  bool In() const { return flags & PARAMFLAG_FIN; }
  bool Out() const { return flags & PARAMFLAG_FOUT; }
  bool Retval() const { return flags & PARAMFLAG_FRETVAL; }
  bool Optional() const { return flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT); }
  // "[in, optional, defaultvalue(0)] VARIANT_BOOL IdQuery"
  std::string Idl() const;
};

// One FUNCDESC: a method, or the get, put or putref of a property.
struct MemberForm {
  std::string name;
  DISPID id = DISPID_UNKNOWN;
  INVOKEKIND invkind = INVOKE_FUNC;
  WORD flags = 0;  // FUNCFLAG_*
  std::string help;
  std::vector<ParamDesc> params;

  bool IsPut() const { return invkind == INVOKE_PROPERTYPUT || invkind == INVOKE_PROPERTYPUTREF; }
  bool Hidden() const { return flags & (FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED); }
  // What a caller gives in parentheses: every parameter but the result and a put's value.
  std::vector<ParamDesc> Arguments() const;
  // The [out, retval] parameter's type (VT_EMPTY when the member returns nothing), and a put's value.
  TypeDesc Result() const;
  const ParamDesc* PutValue() const;
};

// One interface's members.
class InterfaceInfo {
 public:
  InterfaceInfo() = default;
  explicit InterfaceInfo(auto_::ComPtr<ITypeInfo> info);
  // The type information an object gives (empty when it gives none).
  static InterfaceInfo Of(IDispatch* object);
  // Only the name of the object's interface, without reading its members; nullopt when it gives no type
  // information.
  static std::optional<std::string> NameOf(IDispatch* object);

  bool Known() const { return static_cast<bool>(info_); }
  const std::string& Name() const { return name_; }
  const std::string& Help() const { return help_; }
  TYPEKIND Kind() const { return kind_; }
  bool Dual() const { return flags_ & TYPEFLAG_FDUAL; }
  ITypeInfo* Get() const { return info_.Get(); }
  const std::vector<MemberForm>& Members() const { return members_; }
  // The forms of the member called `name` (any case) or with this id.
  std::vector<const MemberForm*> Find(std::string_view name) const;
  std::vector<const MemberForm*> Find(DISPID id) const;
  // The member names closest to a misspelt one, for "did you mean".
  std::vector<std::string> Closest(std::string_view name) const;

 private:
  auto_::ComPtr<ITypeInfo> info_;
  std::string name_, help_;
  TYPEKIND kind_ = TKIND_MAX;
  WORD flags_ = 0;
  std::vector<MemberForm> members_;
};

// A constant of an enumeration.
struct Constant {
  std::string name;
  LONG value = 0;
  std::string enumeration;
};

// A field of a record, where it sits.
struct Field {
  std::string name;
  ULONG offset = 0;
  TypeDesc type;
};

// The whole library the objects of the server come from.
class Library {
 public:
  Library() = default;
  // The library that contains the type information of `object`; empty when it gives none.
  static Library Of(IDispatch* object);

  bool Known() const { return static_cast<bool>(lib_); }
  ITypeLib* Get() const { return lib_.Get(); }
  const std::string& Name() const { return name_; }
  const std::string& Help() const { return help_; }

  struct Type {
    std::string name, help;
    TYPEKIND kind;
    auto_::ComPtr<ITypeInfo> info;
  };
  const std::vector<Type>& Types() const { return types_; }
  // A type by name, in any case; "Instrument" finds IInstrument.
  const Type* FindType(std::string_view name) const;

  // Every constant of every enumeration, in the library's order.
  const std::vector<Constant>& Constants() const { return constants_; }
  const Constant* FindConstant(std::string_view name) const;
  // The constants of one enumeration.
  std::vector<const Constant*> ConstantsOf(std::string_view enumeration) const;
  // The name of `value` in `enumeration`: a constant that is not one of the enumeration's Start/End
  // sentinels when there is one; empty when none has the value.
  std::string NameOf(std::string_view enumeration, LONG value) const;
  // Whether a constant only bounds its enumeration: the last one named ...End, or the first one named
  // ...Start when another constant has its value (PgxTransactionStart is an action of its own).
  bool IsSentinel(const Constant& constant) const;

  // The fields of a record, in order; its size in bytes.
  std::vector<Field> Fields(std::string_view record, ULONG* size = nullptr) const;

 private:
  auto_::ComPtr<ITypeLib> lib_;
  std::string name_, help_;
  std::vector<Type> types_;
  std::vector<Constant> constants_;
};

// Case-insensitive comparison of names, as the dispatcher compares them.
bool SameName(std::string_view a, std::string_view b);
// A BSTR as UTF-8 ("" for NULL).
std::string Utf8(BSTR text);

}  // namespace pgx::cli
