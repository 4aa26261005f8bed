// PgxBase: what every automation object of the server shares.
//
// Its place in the object tree (parent, owning Instrument, owning Channel with its number and SCPI suffix),
// the driver session reached through the owning Instrument, the model restriction checks, and one uniform way
// to fail: ReportError and CheckStatus turn every failure into an HRESULT plus error information, recorded in
// the instrument's Err object.
//
// Life time. A parent caches each kind of child it hands out (ChildHolder) and owns that reference. A child
// needs its parent for as long as a client holds it, so it holds a reference to its parent exactly while it
// has references beyond its owner's: a child that only its parent's cache holds does not keep the parent
// alive, and a child that a client holds does. So there is no reference cycle, nothing lives longer than
// someone holds it, and a client that keeps only a child (a Voltage, say) keeps the whole chain above it.
// The error object is reached through the instrument, which outlives every object below it.
//
// The objects are apartment-threaded: one thread uses an object tree at a time; nothing here is locked.
#pragma once

#include <new>
#include <utility>

#include "automation/interfaces.h"
#include "server/core/call_name_stack.h"
#include "server/core/text_buffer.h"
#include "visa/visa.h"

class IInstrument;

namespace pgx::server {

class Err;
class Instrument;
template <class T>
class ChildHolder;

// How deep in the tree a class stands; a class takes the deepest level it needs.
enum class Level {
  kBase,        // no owning instrument (the root and the Instruments collection)
  kInstrument,  // below an Instrument (and the Instrument itself)
  kChannel,     // below a Channel (and the Channel itself)
};

class PgxBase {
 public:
  PgxBase(const PgxBase&) = delete;
  PgxBase& operator=(const PgxBase&) = delete;

  // ---- Identity ----
  virtual const char* GetClassName() const noexcept = 0;
  // The object's dispatch interface, without a reference.
  virtual IDispatch* GetDispatch() noexcept = 0;
  const IID& InterfaceId() const noexcept { return *iid_; }

  // ---- Place in the tree ----
  // Stores the parent and the interface ID, finds the owning Instrument (and Channel), and when `attach`
  // is set finds the error object and runs OnSessionOpen and OnSessionReady on an open instrument.
  HRESULT SetParent(PgxBase* parent, const IID& iid, bool attach) noexcept;
  PgxBase* Parent() const noexcept { return parent_; }
  bool HasInstrument() const noexcept { return instrument_ != nullptr; }
  Instrument* GetInstrument() const noexcept { return instrument_; }
  // The owning instrument's IInstrument with a reference, or NULL.
  HRESULT GetInstrumentDispatch(IInstrument** out) noexcept;
  // The channel number (1 or 2; 0 before a channel is attached) and its SCPI suffix ("1", "2", "").
  USHORT ChannelNumber() const noexcept { return channel_number_; }
  const char* ChannelSuffix() const noexcept { return channel_suffix_; }

  // ---- Session and model restrictions ----
  // The owning instrument's driver session; 0 without instrument or while it is closed.
  ViSession GetSession() const noexcept;
  // 0, or kErrNotSupported when the connected model lacks restriction `id` (or there is no instrument).
  HRESULT CheckRestriction(int id) noexcept;
  // 0, or kErrNotSupported when the model lacks any of the PgxNotImplFunctions `bits`.
  HRESULT CheckRestrictionMask(ULONG bits) noexcept;
  // Hands a front-end model text to the instrument's Restrictions; E_UNEXPECTED without instrument.
  HRESULT SetCurrModel(const char* model) noexcept;

  // ---- Hooks, run when the object is attached to an open instrument ----
  virtual HRESULT OnSessionOpen() noexcept { return S_OK; }
  virtual HRESULT OnSessionReady() noexcept { return S_OK; }

  // ---- The error path ----
  // S_OK and S_FALSE come back unchanged; any other HRESULT is recorded and published by the error object
  // (when the object has one) and returned.
  HRESULT ReportError(HRESULT hr) noexcept;
  // For every driver (or VISA) status: success and warnings give S_OK; an error is recorded and published
  // by the error object and gives kErrDriver (E_INVALIDARG for the driver's parameter errors).
  HRESULT CheckStatus(ViStatus status) noexcept;
  Err* ErrorObject() const noexcept { return err_; }

  // ---- Shared helpers of the members ----
  // Sends `query` and reads the answer, as the driver writes it, into `answer` (at least 256 characters).
  HRESULT QueryText(const char* query, TextBuffer& answer) noexcept;
  // The Parent property: the parent's IDispatch, or NULL for an object without parent.
  HRESULT GetParentDispatch(IDispatch** out) noexcept;
  // What a member that the server does not have yet answers: E_NOTIMPL with error information.
  HRESULT NotImplemented(const char* member) noexcept;

  // ---- Reference counting (IUnknown::AddRef and Release of every server object) ----
  ULONG InternalAddRef() noexcept;
  ULONG InternalRelease() noexcept;
  // The owning parent takes or gives up the reference its cache holds.
  void AdoptByOwner() noexcept;
  void ReleaseByOwner() noexcept;

 protected:
  PgxBase(const IID& iid, Level level) noexcept : iid_(&iid), level_(level) {}
  virtual ~PgxBase();

  // Class-specific clean-up before the object is destroyed (closing a session, say).
  virtual void Shutdown() noexcept {}
  // The error object this object reports through, looked up when it is attached: the instrument's for
  // objects below an instrument; the Err and the Instruments collection override it.
  virtual Err* FindErrorObject() noexcept;
  // A child property: the cached child (created on first use) as interface `I`, with a reference, into *out;
  // E_POINTER for a null `out`, which is otherwise cleared first. Failures go through ReportError.
  template <class T, class I>
  HRESULT GetChild(ChildHolder<T>& holder, I** out) noexcept {
    if (!out) return ReportError(E_POINTER);
    *out = nullptr;
    if (!holder) {
      if (HRESULT hr = holder.Create(this); FAILED(hr)) return ReportError(hr);
    }
    return ReportError(holder->QueryInterface(auto_::uuidof<I>(), reinterpret_cast<void**>(out)));
  }
  // A Channel sets its own number (which gives the suffix).
  void SetChannelNumber(USHORT number) noexcept;

 private:
  HRESULT FindOwners() noexcept;
  bool WantsParentReference() const noexcept { return parent_ && refs_ > (owner_holds_ ? 1u : 0u); }
  void Destroy() noexcept;

  const IID* iid_;
  Level level_;
  PgxBase* parent_ = nullptr;
  Instrument* instrument_ = nullptr;  // not owned: the instrument outlives the objects below it
  Err* err_ = nullptr;                // not owned, likewise
  USHORT channel_number_ = 0;
  const char* channel_suffix_ = "";
  ULONG refs_ = 0;
  bool owner_holds_ = false;   // one of refs_ is the owning parent's
  bool holds_parent_ = false;  // this object holds a reference to parent_
  bool destroying_ = false;
};

// One cached child of a parent: created on first use, handed out with a reference per request, released
// when the parent goes or re-creates it.
template <class T>
class ChildHolder {
 public:
  ChildHolder() noexcept = default;
  ~ChildHolder() { Reset(); }
  ChildHolder(const ChildHolder&) = delete;
  ChildHolder& operator=(const ChildHolder&) = delete;

  T* get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Creates a new child (releasing the one held) and attaches it below `parent`.
  template <class... Args>
  HRESULT Create(PgxBase* parent, Args&&... args) noexcept {
    Reset();
    T* child = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!child) return E_OUTOFMEMORY;
    child->AdoptByOwner();
    object_ = child;
    HRESULT hr = child->SetParent(parent, child->InterfaceId(), true);
    if (FAILED(hr)) Reset();
    return hr;
  }
  void Reset() noexcept {
    if (T* child = std::exchange(object_, nullptr)) child->ReleaseByOwner();
  }

 private:
  T* object_ = nullptr;
};

}  // namespace pgx::server
