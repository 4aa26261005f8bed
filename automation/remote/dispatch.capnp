# What travels between a client of remote automation objects and the host that keeps them (pgxd): an
# automation object is a capability, so releasing it (or dropping the connection) releases the object on
# the host. Every call answers an HRESULT in its results; RPC exceptions mean the connection failed.
@0xbfed20de5ea6d2d6;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("pgx::remote::wire");

# A GUID in its fields.
struct Guid {
  data1 @0 :UInt32;
  data2 @1 :UInt16;
  data3 @2 :UInt16;
  data4 @3 :Data;  # 8 bytes
}

# A VARIANT's value. Strings are BSTRs: their UTF-16 code units, little-endian, embedded NULs and all (a
# null pointer is a NULL BSTR). Objects are capabilities (a null capability is a NULL interface pointer).
struct Variant {
  union {
    empty @0 :Void;
    null @1 :Void;
    i2 @2 :Int16;
    i4 @3 :Int32;
    r4 @4 :Float32;
    r8 @5 :Float64;
    cy @6 :Int64;
    date @7 :Float64;
    bstr @8 :Data;
    dispatch @9 :Dispatch;
    error @10 :Int32;
    bool @11 :Bool;
    unknown @12 :Dispatch;      # VT_UNKNOWN of an object that has IDispatch
    i1 @13 :Int8;
    ui1 @14 :UInt8;
    ui2 @15 :UInt16;
    ui4 @16 :UInt32;
    i8 @17 :Int64;
    ui8 @18 :UInt64;
    int @19 :Int32;
    uint @20 :UInt32;
    array @21 :SafeArray;
    enumerator @22 :List(Variant);  # VT_UNKNOWN of an IEnumVARIANT: the values it yields
    nullArray @23 :UInt16;          # VT_ARRAY | this element type, with no array (NULL)
  }
}

struct SafeArray {
  elementType @0 :UInt16;  # VARTYPE of the elements
  bounds @1 :List(Bound);  # first dimension first
  union {
    raw @2 :Data;             # numeric elements as laid out in memory (first index fastest)
    items @3 :List(Variant);  # strings, variants and objects, in the same order
  }

  struct Bound {
    count @0 :UInt32;
    lower @1 :Int32;
  }
}

# One argument of Invoke, in DISPPARAMS order (last parameter first).
struct Argument {
  value @0 :Variant;
  byRef @1 :ByRef;

  enum ByRef {
    none @0;
    direct @1;   # VT_BYREF | type: the caller's storage of that type
    variant @2;  # VT_BYREF | VT_VARIANT: the caller's variant
  }
}

# A by-reference argument whose value the member changed, to be written back into the caller's storage.
struct Returned {
  index @0 :UInt32;
  value @1 :Variant;
}

struct ExcepInfo {
  code @0 :UInt16;
  source @1 :Data;
  description @2 :Data;
  helpFile @3 :Data;
  helpContext @4 :UInt32;
  scode @5 :Int32;
}

# What GetTypeInfo describes of an object's interface: enough to list its members.
struct TypeDescription {
  name @0 :Text;
  guid @1 :Guid;
  kind @2 :UInt16;  # TYPEKIND
  flags @3 :UInt16;  # TYPEFLAG_*
  help @4 :Text;
  library @5 :Text;
  major @6 :UInt16;
  minor @7 :UInt16;
  functions @8 :List(Function);  # inherited members of the library's interfaces first
  ownFunctions @9 :UInt16;        # the last ones are the type's own
  base @10 :Text;                 # interfaces: the interface derived from
  values @11 :List(EnumValue);    # enumerations
  fields @12 :List(Field);        # records
  impls @13 :List(Impl);          # classes
  size @14 :UInt32;
  alignment @15 :UInt16;

  struct EnumValue {
    name @0 :Text;
    value @1 :Int32;
    help @2 :Text;
  }

  struct Field {
    name @0 :Text;
    type @1 :Parameter;
    offset @2 :UInt32;
  }

  struct Impl {
    name @0 :Text;
    flags @1 :Int32;
    dispinterface @2 :Bool;
  }

  struct Function {
    name @0 :Text;
    dispid @1 :Int32;
    invkind @2 :UInt16;
    flags @3 :UInt16;  # FUNCFLAG_*
    help @4 :Text;
    params @5 :List(Parameter);
  }

  struct Parameter {
    name @0 :Text;
    vt @1 :UInt16;
    byRef @2 :Bool;
    typeName @3 :Text;
    idl @4 :Text;
    flags @5 :UInt16;  # PARAMFLAG_*
    default @6 :Variant;
  }
}

struct LibraryDescription {
  name @0 :Text;
  guid @1 :Guid;
  major @2 :UInt16;
  minor @3 :UInt16;
  help @4 :Text;
  types @5 :List(TypeDescription);
  index @6 :UInt16;  # the object's type among them
}

interface Dispatch {
  getIDsOfNames @0 (names :List(Data), lcid :UInt32) -> (hresult :Int32, ids :List(Int32));

  # `object` repeats an object result as a capability that a following call can be pipelined on, so a
  # chain of members costs one round trip.
  invoke @1 (member :Member, flags :UInt16, lcid :UInt32, args :List(Argument), named :List(Int32),
             wantResult :Bool)
         -> (hresult :Int32, result :Variant, object :Dispatch, returned :List(Returned),
             excepInfo :ExcepInfo, argErr :UInt32);

  # The object's type in its whole library (enumerations and records included), or the type alone when
  # it has no library.
  getTypeInfo @2 (lcid :UInt32) -> (hresult :Int32, type :TypeDescription, library :LibraryDescription);

  # A chain of members called by the host, each step on the object the step before returned, so that the
  # objects between the steps never cross. On failure `failedStep` says which step failed.
  invokeChain @3 (steps :List(ChainStep), lcid :UInt32)
              -> (hresult :Int32, result :Variant, object :Dispatch, excepInfo :ExcepInfo,
                  failedStep :UInt32);
}

struct ChainStep {
  name @0 :Data;  # UTF-16
  flags @1 :UInt16;
  args @2 :List(Variant);  # in DISPPARAMS order (last parameter first), by value
}

struct Member {
  union {
    id @0 :Int32;
    name @1 :Data;  # UTF-16, resolved by the host (GetIDsOfNames) before the call
  }
}

interface Activator {
  createInstance @0 (clsid :Guid) -> (hresult :Int32, object :Dispatch, error :ExcepInfo);
  clsidFromProgId @1 (progId :Data) -> (hresult :Int32, clsid :Guid);
}

# The host's bootstrap: a client presents the host's token (empty when the host has none) to get the
# activator.
interface Host {
  open @0 (token :Data) -> (hresult :Int32, activator :Activator);
}
