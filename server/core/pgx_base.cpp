#include "server/core/pgx_base.h"

#include "driver/pgxgen.h"
#include "server/channel/channel.h"
#include "server/core/messages.h"
#include "server/pgxsrv_idl.h"
#include "server/session/err.h"
#include "server/session/instrument.h"

namespace pgx::server {

PgxBase::~PgxBase() = default;

// ---- Place in the tree -------------------------------------------------------------------------------

HRESULT PgxBase::SetParent(PgxBase* parent, const IID& iid, bool attach) noexcept {
  if (parent != parent_) {
    PgxBase* old = holds_parent_ ? parent_ : nullptr;
    holds_parent_ = false;
    parent_ = parent;
    if (WantsParentReference()) {
      holds_parent_ = true;
      parent_->InternalAddRef();
    }
    if (old) old->InternalRelease();
  }
  iid_ = &iid;
  if (HRESULT hr = FindOwners(); FAILED(hr)) return hr;
  if (!attach) return S_OK;
  err_ = FindErrorObject();
  if (instrument_ && instrument_->IsOpen()) {
    if (HRESULT hr = OnSessionOpen(); FAILED(hr)) return hr;
    return OnSessionReady();
  }
  return S_OK;
}

// The first object from this one up the parent links whose interface is `wanted`.
static PgxBase* FindUpwards(PgxBase* from, const IID& wanted) noexcept {
  for (PgxBase* p = from; p; p = p->Parent()) {
    if (p->InterfaceId() == wanted) return p;
  }
  return nullptr;
}

HRESULT PgxBase::FindOwners() noexcept {
  if (level_ == Level::kBase) return S_OK;
  instrument_ = static_cast<Instrument*>(FindUpwards(this, IID_IInstrument));
  // The Err of the Instruments collection lives without instrument.
  if (!instrument_ && *iid_ != IID_IErr) return E_UNEXPECTED;
  if (level_ == Level::kChannel) {
    auto* channel = static_cast<Channel*>(FindUpwards(this, IID_IChannel));
    if (!channel) return E_UNEXPECTED;
    SetChannelNumber(channel->ChannelNumber());
  }
  return S_OK;
}

Err* PgxBase::FindErrorObject() noexcept {
  return instrument_ ? instrument_->AttachedErr() : nullptr;
}

void PgxBase::SetChannelNumber(USHORT number) noexcept {
  channel_number_ = number;
  channel_suffix_ = number == 1 ? "1" : "2";
}

HRESULT PgxBase::GetInstrumentDispatch(IInstrument** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!instrument_) return S_OK;
  *out = instrument_->GetInterface();
  (*out)->AddRef();
  return S_OK;
}

// ---- Session and model restrictions --------------------------------------------------------------------

ViSession PgxBase::GetSession() const noexcept {
  return instrument_ ? instrument_->Session() : 0;
}

HRESULT PgxBase::CheckRestriction(int id) noexcept {
  return instrument_ ? instrument_->CheckOwnRestriction(id) : kErrNotSupported;
}

HRESULT PgxBase::CheckRestrictionMask(ULONG bits) noexcept {
  return instrument_ ? instrument_->CheckOwnRestrictionMask(bits) : kErrNotSupported;
}

HRESULT PgxBase::SetCurrModel(const char* model) noexcept {
  return instrument_ ? instrument_->SetRestrictionModel(model) : E_UNEXPECTED;
}

// ---- The error path ---------------------------------------------------------------------------------------

HRESULT PgxBase::ReportError(HRESULT hr) noexcept {
  if (hr == S_OK || hr == S_FALSE || !err_) return hr;
  return err_->RecordHresult(hr, *iid_);
}

HRESULT PgxBase::CheckStatus(ViStatus status) noexcept {
  if (status >= 0) return S_OK;
  // An object without error object (a Limit, say) fails as any other: it only publishes nothing.
  if (!err_) return IsDriverParameterStatus(status) ? E_INVALIDARG : kErrDriver;
  return err_->RecordStatus(status, *iid_);
}

HRESULT PgxBase::QueryText(const char* query, TextBuffer& answer) noexcept {
  if (HRESULT hr = answer.Reserve(TextBuffer::kAnswerSize); FAILED(hr)) return hr;
  ViChar* buffer = answer.Data();
  buffer[0] = '\0';
  HRESULT hr =
      CheckStatus(pgxgen_cmdString_Q(GetSession(), query, static_cast<ViInt32>(answer.capacity()), buffer));
  answer.TakeWrittenText();
  return hr;
}

HRESULT PgxBase::GetParentDispatch(IDispatch** out) noexcept {
  CallFrame frame("PgxBase.Parent");
  if (!out) return ReportError(E_POINTER);
  *out = nullptr;
  if (!parent_) return S_OK;
  return ReportError(parent_->GetDispatch()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out)));
}

HRESULT PgxBase::NotImplemented(const char* member) noexcept {
  CallFrame frame(member);
  return ReportError(E_NOTIMPL);
}

// ---- Reference counting -----------------------------------------------------------------------------------

ULONG PgxBase::InternalAddRef() noexcept {
  ULONG refs = ++refs_;
  if (!destroying_ && !holds_parent_ && WantsParentReference()) {
    holds_parent_ = true;
    parent_->InternalAddRef();
  }
  return refs;
}

ULONG PgxBase::InternalRelease() noexcept {
  ULONG refs = --refs_;
  if (destroying_) return refs;
  if (refs == 0) {
    Destroy();
    return 0;
  }
  if (holds_parent_ && !WantsParentReference()) {
    holds_parent_ = false;
    // Releasing the parent may destroy it, and with it this object (whose last reference is then the
    // parent's cache): nothing of this object is touched afterwards.
    parent_->InternalRelease();
  }
  return refs;
}

void PgxBase::AdoptByOwner() noexcept {
  owner_holds_ = true;
  ++refs_;
}

void PgxBase::ReleaseByOwner() noexcept {
  owner_holds_ = false;
  InternalRelease();
}

void PgxBase::Destroy() noexcept {
  // Shutdown may hand out and take back references to this object; they no longer count.
  destroying_ = true;
  refs_ = 1;
  PgxBase* parent = holds_parent_ ? parent_ : nullptr;
  Shutdown();
  delete this;
  if (parent) parent->InternalRelease();
}

}  // namespace pgx::server
