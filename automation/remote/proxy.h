// The client's IDispatch for an object on a remote host: every call goes to the host and waits for its
// answer, so late binding and the generated client wrappers work on it as on a local object.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <unordered_map>

#include "automation/member_chain.h"
#include "automation/object.h"
#include "automation/remote/connection.h"

namespace pgx::remote {

// Identifies a proxy behind an interface pointer: QueryInterface answers it with the proxy itself (with a
// reference, as always); used only inside the runtime.
inline constexpr IID IID_RemoteDispatchIdentity = {
    0x3d69c163, 0x90d0, 0x4ec0, {0xa3, 0xe2, 0xe2, 0x12, 0x92, 0x2a, 0x1a, 0x8f}};

class RemoteDispatch final
    : public pgx::auto_::Object<RemoteDispatch, IDispatch, ISupportErrorInfo, pgx::auto_::IMemberChain> {
 public:
  // Made on the connection's thread.
  RemoteDispatch(std::shared_ptr<Connection> connection, wire::Dispatch::Client capability);
  ~RemoteDispatch();

  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* arg_err) override;
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;
  STDMETHODIMP InvokeChain(const pgx::auto_::MemberStep* steps, UINT count, VARIANT* result, EXCEPINFO* excep,
                           UINT* failed_step) override;

  void* FindExtraInterface(REFIID riid) { return riid == IID_RemoteDispatchIdentity ? this : nullptr; }

  const std::shared_ptr<Connection>& connection() const { return connection_; }
  // The capability, for sending this object back to its host. Only on the proxy's thread.
  wire::Dispatch::Client capability();

 private:
  friend class ThreadRpc;
  // Checks the thread and the connection and drops what other threads released; S_OK to go on.
  HRESULT Enter();
  // A chain as one call that the host carries out (E_NOTIMPL from a host that cannot), or as one call
  // per step, pipelined, each on the object the step before returns.
  HRESULT ChainOnHost(const pgx::auto_::MemberStep* steps, UINT count, VARIANT* result, EXCEPINFO* excep,
                      UINT* failed_step);
  HRESULT ChainPipelined(const pgx::auto_::MemberStep* steps, UINT count, VARIANT* result, EXCEPINFO* excep,
                         UINT* failed_step);

  std::shared_ptr<Connection> connection_;
  std::shared_ptr<ThreadShared> shared_;
  std::thread::id owner_;
  kj::Maybe<wire::Dispatch::Client> capability_;  // dropped when the proxy's thread ends
  std::unordered_map<std::u16string, DISPID> names_;
  // The object's type description as the host gave it, for the locale it was asked in: an object's type does
  // not change, so it is asked for once.
  pgx::auto_::ComPtr<ITypeInfo> type_info_;
  LCID type_info_lcid_ = 0;
};

}  // namespace pgx::remote
