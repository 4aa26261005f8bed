#include "automation/remote/proxy.h"

#include <cstring>
#include <vector>

#include "automation/errorinfo.h"
#include "automation/remote/type_description.h"
#include "automation/remote/wire_variant.h"
#include "automation/vartype_info.h"

namespace pgx::remote {

using pgx::auto_::ComPtr;

namespace {

HRESULT Raise(HRESULT hr, const std::string& what) {
  const char* system = pgx::auto_::SystemMessageText(hr);
  std::string text = system ? std::string(system) + " (" + what + ")" : what;
  return pgx::auto_::RaiseError(hr, IID_NULL, u"", pgx::auto_::Utf8OrLatin1ToUtf16(text));
}

// The client's side of objects: what the host returns becomes a new proxy; an object in an argument must
// be a proxy of the same connection.
class ClientObjects final : public ObjectMarshal {
 public:
  explicit ClientObjects(const std::shared_ptr<Connection>& connection) : connection_(connection) {}

  HRESULT Export(IDispatch* object, wire::Dispatch::Client& out) override {
    ComPtr<IUnknown> identity;
    if (SUCCEEDED(
            object->QueryInterface(IID_RemoteDispatchIdentity, identity.ReleaseAndGetAddressOfVoid())) &&
        identity) {
      auto* proxy = static_cast<RemoteDispatch*>(static_cast<void*>(identity.Get()));
      if (proxy->connection() == connection_) {
        out = proxy->capability();
        return S_OK;
      }
    }
    return Raise(RPC_E_CLIENT_CANTMARSHAL_DATA,
                 "an object passed to a remote member must be one that came from the same host");
  }
  HRESULT Import(wire::Dispatch::Client capability, IDispatch** out) override {
    auto proxy = RemoteDispatch::Make(connection_, kj::mv(capability));
    *out = proxy.Detach();
    return S_OK;
  }

 private:
  const std::shared_ptr<Connection>& connection_;
};

// Writes a value the host sent back into the caller's by-reference argument, as a local member would have.
HRESULT WriteBack(VARIANT& target, VARIANT& value) {
  if (target.vt == (VT_BYREF | VT_VARIANT)) {
    VARIANT* inner = target.pvarVal;
    if (inner->vt & VT_BYREF) return WriteBack(*inner, value);
    VariantClear(inner);
    *inner = value;
    value.vt = VT_EMPTY;
    return S_OK;
  }
  const VARTYPE vt = static_cast<VARTYPE>(target.vt & ~VT_BYREF);
  if (value.vt != vt) {
    HRESULT hr = VariantChangeType(&value, &value, 0, vt);
    if (FAILED(hr)) return hr;
  }
  if (vt & VT_ARRAY) {
    SafeArrayDestroy(*target.pparray);
    *target.pparray = value.parray;
  } else {
    switch (vt) {
      case VT_BSTR:
        SysFreeString(*target.pbstrVal);
        *target.pbstrVal = value.bstrVal;
        break;
      case VT_DISPATCH:
        if (*target.ppdispVal) (*target.ppdispVal)->Release();
        *target.ppdispVal = value.pdispVal;
        break;
      case VT_UNKNOWN:
        if (*target.ppunkVal) (*target.ppunkVal)->Release();
        *target.ppunkVal = value.punkVal;
        break;
      default:
        std::memcpy(target.byref, &value.llVal, auto_::detail::ValueBytes(vt));
        break;
    }
  }
  value.vt = VT_EMPTY;  // the caller's storage owns it now
  return S_OK;
}

// Fills one invoke request from IDispatch::Invoke's arguments.
HRESULT FillRequest(wire::Dispatch::InvokeParams::Builder request, WORD flags, LCID lcid,
                    const DISPPARAMS* params, bool want_result, ObjectMarshal& objects, UINT* arg_err) {
  request.setFlags(flags);
  request.setLcid(lcid);
  request.setWantResult(want_result);
  const UINT n = params ? params->cArgs : 0;
  auto args = request.initArgs(n);
  for (UINT i = 0; i < n; ++i) {
    const VARIANT& v = params->rgvarg[i];
    auto arg = args[i];
    if (v.vt == (VT_BYREF | VT_VARIANT)) {
      arg.setByRef(wire::Argument::ByRef::VARIANT);
    } else if (v.vt & VT_BYREF) {
      arg.setByRef(wire::Argument::ByRef::DIRECT);
    }
    HRESULT hr = EncodeVariant(v, arg.initValue(), objects, RPC_E_CLIENT_CANTMARSHAL_DATA);
    if (FAILED(hr)) {
      if (arg_err) *arg_err = i;
      return hr;
    }
  }
  const UINT named = params ? params->cNamedArgs : 0;
  auto ids = request.initNamed(named);
  for (UINT i = 0; i < named; ++i) ids.set(i, params->rgdispidNamedArgs[i]);
  return S_OK;
}

// Takes an invoke answer: by-reference arguments written back, the result, EXCEPINFO.
HRESULT TakeResponse(wire::Dispatch::InvokeResults::Reader response, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excep, UINT* arg_err, ObjectMarshal& objects) {
  HRESULT hr = response.getHresult();
  const UINT n = params ? params->cArgs : 0;
  for (auto returned : response.getReturned()) {
    const UINT index = returned.getIndex();
    if (index >= n || !(params->rgvarg[index].vt & VT_BYREF)) return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
    VARIANT value;
    HRESULT read = DecodeVariant(returned.getValue(), value, objects, RPC_E_CLIENT_CANTUNMARSHAL_DATA);
    if (SUCCEEDED(read)) read = WriteBack(params->rgvarg[index], value);
    VariantClear(&value);
    if (FAILED(read) && SUCCEEDED(hr)) hr = read;
  }
  if (hr == DISP_E_EXCEPTION && excep) DecodeExcepInfo(response.getExcepInfo(), *excep);
  if (arg_err && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)) *arg_err = response.getArgErr();
  if (SUCCEEDED(hr) && result) {
    HRESULT read = DecodeVariant(response.getResult(), *result, objects, RPC_E_CLIENT_CANTUNMARSHAL_DATA);
    if (FAILED(read)) hr = read;
  }
  return hr;
}

}  // namespace

RemoteDispatch::RemoteDispatch(std::shared_ptr<Connection> connection, wire::Dispatch::Client capability)
    : connection_(std::move(connection)),
      shared_(connection_->thread().shared()),
      owner_(std::this_thread::get_id()),
      capability_(kj::mv(capability)) {
  connection_->thread().Register(this);
}

RemoteDispatch::~RemoteDispatch() {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  ThreadRpc* thread = shared_->alive;
  if (!thread) {
    // The thread ended and dropped what this proxy held of its event loop.
    lock.unlock();
    connection_.reset();
    return;
  }
  thread->proxies_.erase(this);
  if (std::this_thread::get_id() != owner_) {
    shared_->orphans.push_back({kj::mv(capability_), std::move(connection_)});
    return;
  }
  lock.unlock();
  capability_ = nullptr;
  const bool last = connection_.use_count() == 1;
  connection_.reset();
  // The release goes out now, so the host lets go of the object without waiting for another call.
  if (!last) thread->Flush();
}

wire::Dispatch::Client RemoteDispatch::capability() {
  KJ_IF_MAYBE (c, capability_) {
    return *c;
  }
  return nullptr;
}

HRESULT RemoteDispatch::Enter() {
  if (std::this_thread::get_id() != owner_) {
    return Raise(RPC_E_WRONG_THREAD, "a remote object is called only on the thread that received it");
  }
  ThreadRpc& thread = connection_->thread();
  thread.DropOrphans();
  if (connection_->broken() || capability_ == nullptr) return connection_->Disconnected();
  return S_OK;
}

STDMETHODIMP RemoteDispatch::GetTypeInfoCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 1;
  return S_OK;
}

STDMETHODIMP RemoteDispatch::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  HRESULT hr = Enter();
  if (FAILED(hr)) return hr;
  if (type_info_ && type_info_lcid_ == lcid) {
    *info = pgx::auto_::ComPtr<ITypeInfo>(type_info_).Detach();
    return S_OK;
  }
  try {
    auto request = capability().getTypeInfoRequest();
    request.setLcid(lcid);
    kj::Maybe<capnp::Response<wire::Dispatch::GetTypeInfoResults>> response;
    hr = connection_->Wait(request.send(), response);
    if (FAILED(hr)) return hr;
    KJ_IF_MAYBE (r, response) {
      hr = r->getHresult();
      if (FAILED(hr)) return hr;
      hr = TypeInfoFromDescription(*r, info);
      if (SUCCEEDED(hr)) {
        type_info_ = *info;
        type_info_lcid_ = lcid;
      }
      return hr;
    }
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

STDMETHODIMP RemoteDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!names || !ids || count == 0) return E_INVALIDARG;
  HRESULT hr = Enter();
  if (FAILED(hr)) return hr;
  try {
    // A member's DISPID does not change: one question per name for the proxy's life.
    if (count == 1 && names[0]) {
      if (auto it = names_.find(names[0]); it != names_.end()) {
        ids[0] = it->second;
        return S_OK;
      }
    }
    auto request = capability().getIDsOfNamesRequest(kCallMessageSize);
    request.setLcid(lcid);
    auto list = request.initNames(count);
    for (UINT i = 0; i < count; ++i) {
      list.set(i, Utf16Bytes(names[i] ? std::u16string_view(names[i]) : std::u16string_view()));
    }
    kj::Maybe<capnp::Response<wire::Dispatch::GetIDsOfNamesResults>> response;
    hr = connection_->Wait(request.send(), response);
    if (FAILED(hr)) return hr;
    KJ_IF_MAYBE (r, response) {
      auto answered = r->getIds();
      for (UINT i = 0; i < count; ++i) ids[i] = i < answered.size() ? answered[i] : DISPID_UNKNOWN;
      hr = r->getHresult();
      if (SUCCEEDED(hr) && count == 1 && names[0]) names_.emplace(names[0], ids[0]);
      return hr;
    }
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

STDMETHODIMP RemoteDispatch::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (result) VariantInit(result);
  if (params && ((params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
                 params->cNamedArgs > params->cArgs)) {
    return E_INVALIDARG;
  }
  HRESULT hr = Enter();
  if (FAILED(hr)) return hr;
  try {
    ClientObjects objects(connection_);
    auto request = capability().invokeRequest(kCallMessageSize);
    request.initMember().setId(id);
    hr = FillRequest(request, flags, lcid, params, result != nullptr, objects, arg_err);
    if (FAILED(hr)) return hr;
    kj::Maybe<capnp::Response<wire::Dispatch::InvokeResults>> response;
    hr = connection_->Wait(request.send(), response);
    if (FAILED(hr)) return hr;
    KJ_IF_MAYBE (r, response) {
      return TakeResponse(*r, params, result, excep, arg_err, objects);
    }
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  } catch (const std::bad_alloc&) {
    if (result) VariantClear(result);
    return E_OUTOFMEMORY;
  } catch (...) {
    if (result) VariantClear(result);
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

STDMETHODIMP RemoteDispatch::InvokeChain(const pgx::auto_::MemberStep* steps, UINT count, VARIANT* result,
                                         EXCEPINFO* excep, UINT* failed_step) {
  if (!result || (!steps && count)) return E_POINTER;
  VariantInit(result);
  if (failed_step) *failed_step = 0;
  if (count == 0) return E_INVALIDARG;
  HRESULT hr = Enter();
  if (FAILED(hr)) return hr;
  if (connection_->host_runs_chains()) {
    hr = ChainOnHost(steps, count, result, excep, failed_step);
    if (hr != E_NOTIMPL || connection_->host_runs_chains()) return hr;
  }
  return ChainPipelined(steps, count, result, excep, failed_step);
}

HRESULT RemoteDispatch::ChainOnHost(const pgx::auto_::MemberStep* steps, UINT count, VARIANT* result,
                                    EXCEPINFO* excep, UINT* failed_step) {
  try {
    ClientObjects objects(connection_);
    auto request = capability().invokeChainRequest(kCallMessageSize);
    request.setLcid(LOCALE_USER_DEFAULT);
    auto list = request.initSteps(count);
    for (UINT i = 0; i < count; ++i) {
      const pgx::auto_::MemberStep& step = steps[i];
      auto out = list[i];
      out.setName(Utf16Bytes(step.name));
      out.setFlags(step.flags);
      const auto n = static_cast<unsigned>(step.args.size());
      auto args = out.initArgs(n);
      for (unsigned k = 0; k < n; ++k) {
        // Last parameter first, as in DISPPARAMS.
        HRESULT hr = EncodeVariant(step.args[n - 1 - k], args[k], objects, RPC_E_CLIENT_CANTMARSHAL_DATA);
        if (FAILED(hr)) {
          if (failed_step) *failed_step = i;
          return hr;
        }
      }
    }
    kj::Maybe<capnp::Response<wire::Dispatch::InvokeChainResults>> response;
    HRESULT hr = connection_->Wait(request.send(), response);
    if (hr == E_NOTIMPL) {
      // A host of an earlier version: its members are called step by step, pipelined.
      connection_->set_host_runs_chains(false);
      return hr;
    }
    if (FAILED(hr)) return hr;
    KJ_IF_MAYBE (r, response) {
      hr = r->getHresult();
      if (FAILED(hr)) {
        if (failed_step) *failed_step = r->getFailedStep();
        if (hr == DISP_E_EXCEPTION && excep) DecodeExcepInfo(r->getExcepInfo(), *excep);
        return hr;
      }
      hr = DecodeVariant(r->getResult(), *result, objects, RPC_E_CLIENT_CANTUNMARSHAL_DATA);
      if (FAILED(hr) && failed_step) *failed_step = count - 1;
      return hr;
    }
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  } catch (const std::bad_alloc&) {
    VariantClear(result);
    return E_OUTOFMEMORY;
  } catch (...) {
    VariantClear(result);
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

HRESULT RemoteDispatch::ChainPipelined(const pgx::auto_::MemberStep* steps, UINT count, VARIANT* result,
                                       EXCEPINFO* excep, UINT* failed_step) {
  HRESULT hr = S_OK;
  try {
    ClientObjects objects(connection_);
    // Every step goes out at once, each on the object the step before will return.
    std::vector<capnp::RemotePromise<wire::Dispatch::InvokeResults>> pending;
    pending.reserve(count);
    wire::Dispatch::Client target = capability();
    for (UINT i = 0; i < count; ++i) {
      const pgx::auto_::MemberStep& step = steps[i];
      auto request = target.invokeRequest(kCallMessageSize);
      request.initMember().setName(Utf16Bytes(step.name));
      // Borrowed copies, last parameter first as in DISPPARAMS.
      std::vector<VARIANT> reversed(step.args.size());
      std::size_t k = step.args.size();
      for (const auto& a : step.args) reversed[--k] = a;
      DISPPARAMS dp{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
      hr = FillRequest(request, step.flags, LOCALE_USER_DEFAULT, &dp, true, objects, nullptr);
      if (FAILED(hr)) {
        if (failed_step) *failed_step = i;
        return hr;
      }
      auto sent = request.send();
      target = sent.getObject();
      pending.push_back(kj::mv(sent));
    }
    // The calls leave together, in one write, when the first wait lets the event loop run. The answers
    // are kept to the end, so that what letting go of them sends (Finish, Release) leaves together too.
    std::vector<kj::Maybe<capnp::Response<wire::Dispatch::InvokeResults>>> answers(count);
    struct LetGo {
      Connection& c;
      std::vector<kj::Maybe<capnp::Response<wire::Dispatch::InvokeResults>>>& answers;
      std::vector<capnp::RemotePromise<wire::Dispatch::InvokeResults>>& pending;
      ~LetGo() {
        answers.clear();
        pending.clear();
        // The host lets go of the objects between the steps now, not at this thread's next call.
        c.thread().Flush();
      }
    } let_go{*connection_, answers, pending};
    // The answers come in order; the first failure is the chain's.
    for (UINT i = 0; i < count; ++i) {
      auto& response = answers[i];
      hr = connection_->Wait(kj::mv(pending[i]), response);
      if (FAILED(hr)) {
        if (failed_step) *failed_step = i;
        return hr;
      }
      KJ_IF_MAYBE (r, response) {
        hr = r->getHresult();
        if (FAILED(hr)) {
          if (failed_step) *failed_step = i;
          if (hr == DISP_E_EXCEPTION && excep) DecodeExcepInfo(r->getExcepInfo(), *excep);
          return hr;
        }
        if (i + 1 < count) {
          if (!r->getResult().isDispatch() ||
              capnp::ClientHook::from(r->getResult().getDispatch())->isNull()) {
            if (failed_step) *failed_step = i;
            return DISP_E_TYPEMISMATCH;
          }
          continue;
        }
        hr = DecodeVariant(r->getResult(), *result, objects, RPC_E_CLIENT_CANTUNMARSHAL_DATA);
        if (FAILED(hr) && failed_step) *failed_step = i;
        return hr;
      }
      return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    VariantClear(result);
    return E_OUTOFMEMORY;
  } catch (...) {
    VariantClear(result);
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

STDMETHODIMP RemoteDispatch::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IDispatch ? S_OK : S_FALSE;
}

}  // namespace pgx::remote
