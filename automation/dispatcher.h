// The generic IDispatch: one implementation, driven by the type-library tables, that every automation
// class gets by deriving from IDispatchImpl<IFoo> instead of IFoo.
//
//   class Widget final : public pgx::auto_::Object<Widget, pgx::auto_::IDispatchImpl<IWidget>> {
//     STDMETHODIMP get_Count(LONG* value) override;   // only the typed members
//   };
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "automation/interfaces.h"
#include "automation/typelib.h"

namespace pgx::auto_ {

// Lookup structures of one interface, built once from its table.
class DispatchTable {
 public:
  explicit DispatchTable(const TypeInfoEntry& type);
  DispatchTable(const DispatchTable&) = delete;
  DispatchTable& operator=(const DispatchTable&) = delete;

  const TypeInfoEntry& type() const { return type_; }

  // rgszNames[0] is a member name, the others names of its parameters (matched case-insensitively).
  // Unknown names get DISPID_UNKNOWN and the result DISP_E_UNKNOWNNAME.
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const noexcept;
  // Invokes member `id` on `self` (the interface pointer of this table's interface). A member that fails,
  // by its HRESULT or by an exception that leaves it, gives DISP_E_EXCEPTION with EXCEPINFO filled from the
  // error information (HresultFromCurrentException turns an exception into both); nothing is thrown.
  HRESULT Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                 UINT* arg_err) const noexcept;

  // The function entry for `id` and the invoke flags, or nullptr.
  const FuncInfo* FindMember(DISPID id, WORD flags) const noexcept;
  // The DISPID of a member name (case-insensitive), or DISPID_UNKNOWN.
  DISPID FindName(const OLECHAR* name) const noexcept;

 private:
  struct ById {
    DISPID id;
    std::int16_t method = -1, get = -1, put = -1, putref = -1;
  };
  struct NameSlot {
    std::uint32_t hash = 0;
    std::int32_t name = -1;  // index into names_, -1 when empty
  };
  struct Name {
    std::u16string folded;
    DISPID id;
  };

  const ById* FindId(DISPID id) const noexcept;
  const Name* LookupName(const OLECHAR* text) const noexcept;

  const TypeInfoEntry& type_;
  std::vector<ById> by_id_;  // sorted by id
  std::vector<Name> names_;
  std::vector<NameSlot> slots_;  // open addressing, size a power of two
  std::uint32_t mask_ = 0;
};

// Creates an ITypeInfo over one type of a library (GetTypeInfo, GetRefTypeInfo). The tables live in the
// module that implements the type: `owner` (an object of that module, or NULL for tables that are not in
// an unloadable module) is held by the type information, so the module cannot be unloaded under it.
HRESULT CreateTypeInfo(const LibraryInfo& library, const TypeInfoEntry& type, IUnknown* owner,
                       ITypeInfo** out) noexcept;

// Creates an ITypeLib over a library's tables (what ITypeInfo::GetContainingTypeLib hands out); `owner`
// as for CreateTypeInfo.
HRESULT CreateTypeLib(const LibraryInfo& library, IUnknown* owner, ITypeLib** out) noexcept;
// The tables behind a type library this runtime made, or nullptr for any other ITypeLib. They stay valid
// while the caller holds `typelib`.
const LibraryInfo* TablesOf(ITypeLib* typelib) noexcept;

// IDispatch implemented from the tables of `Interface` (a dual interface of a generated library).
template <class Interface>
class IDispatchImpl : public Interface {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return CreateTypeInfo(interface_type_info<Interface>::library(), interface_type_info<Interface>::type(),
                          static_cast<Interface*>(this), info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const DispatchTable* table = Table();
    return table ? table->GetIDsOfNames(names, count, ids) : E_OUTOFMEMORY;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* arg_err) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const DispatchTable* table = Table();
    return table ? table->Invoke(static_cast<Interface*>(this), id, flags, params, result, excep, arg_err)
                 : E_OUTOFMEMORY;
  }

 private:
  // Built on first use; it lives in the module that implements the interface and goes when that module
  // is unloaded.
  static const DispatchTable* Table() noexcept {
    try {
      static const DispatchTable table(interface_type_info<Interface>::type());
      return &table;
    } catch (...) {
      return nullptr;
    }
  }
};

// IDispatchImpl<I> answers QueryInterface for I and what I derives from.
template <class Interface>
struct interface_traits<IDispatchImpl<Interface>> {
  using base = Interface;
  static constexpr const IID& id() { return interface_traits<Interface>::id(); }
};

}  // namespace pgx::auto_
