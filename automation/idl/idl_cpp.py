"""How the C++ emitters spell the checked model: type names, literals, GUIDs and member names."""

from idl_checked import CheckedMethod, TypeUse
from idl_lexer import string_literal
from idl_parsed import TypeSpec

# IDL base type -> C++ type of the runtime.
CPP_BASE_TYPES = {
    "short": "SHORT", "long": "LONG", "float": "FLOAT", "double": "DOUBLE", "unsigned char": "BYTE",
    "unsigned short": "USHORT", "unsigned long": "ULONG", "BSTR": "BSTR", "VARIANT_BOOL": "VARIANT_BOOL",
    "VARIANT": "VARIANT", "IDispatch": "IDispatch", "IUnknown": "IUnknown", "IEnumVARIANT": "IEnumVARIANT",
    "HRESULT": "HRESULT", "void": "void",
}

INVKIND = {"method": "INVOKE_FUNC", "propget": "INVOKE_PROPERTYGET", "propput": "INVOKE_PROPERTYPUT",
           "propputref": "INVOKE_PROPERTYPUTREF"}
DISPATCH_FLAGS = {"method": "DISPATCH_METHOD", "propget": "DISPATCH_PROPERTYGET", "propput": "DISPATCH_PROPERTYPUT",
                  "propputref": "DISPATCH_PROPERTYPUTREF"}
_CPP_PREFIX = {"method": "", "propget": "get_", "propput": "put_", "propputref": "putref_"}


def guid_init(text: str) -> str:
    h = text.replace("-", "")
    d4 = ", ".join(f"0x{h[16 + 2 * i:18 + 2 * i]}" for i in range(8))
    return f"{{0x{h[0:8]}, 0x{h[8:12]}, 0x{h[12:16]}, {{{d4}}}}}"


def cstr(s) -> str:
    return "nullptr" if s is None else string_literal(s)


def u16str(s) -> str:
    return "nullptr" if s is None else "u" + string_literal(s)


def dispid_text(dispid: int) -> str:
    return str(dispid) if -256 < dispid < 256 else f"{dispid:#x}"


def cpp_member_name(m: CheckedMethod) -> str:
    """get_Level, put_Level, Format: the name of the C++ member."""
    return _CPP_PREFIX[m.invkind] + m.name


def cpp_type(use: TypeUse) -> str:
    """The C++ type of the value: LONG, BSTR, TestColor, SAFEARRAY*, IChild (the interface itself)."""
    if use.kind == "safearray":
        return "SAFEARRAY*"
    if use.user is not None:
        return use.user.name
    return CPP_BASE_TYPES[use.base]


def cpp_decl(use: TypeUse) -> str:
    """The C++ type of a parameter: LONG, LONG*, IChild*, IChild**, SAFEARRAY**."""
    if use.kind == "interface":
        return cpp_type(use) + "*" + "*" * use.byref
    return cpp_type(use) + "*" * use.byref


def cpp_field_type(spec: TypeSpec) -> str:
    """The C++ type of a record field as written."""
    if spec.base == "SAFEARRAY":
        return "SAFEARRAY*" + "*" * spec.pointers
    return CPP_BASE_TYPES.get(spec.base, spec.base) + "*" * spec.pointers
