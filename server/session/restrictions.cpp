#include "server/session/restrictions.h"

#include <cstring>
#include <iterator>

#include "server/core/messages.h"

namespace pgx::server {

namespace {

struct ModelRow {
  const char* model;
  ULONG mask;
};

// Searched in this order; the first exact match wins.
constexpr ModelRow kModels[] = {
    {"Q510", 0x07C0},  {"Q510A", 0x07C0},  {"Q520", 0x07F3},  {"Q520A", 0x07F3},
    {"Q530", 0x8200},  {"Q530A", 0x8200},  {"Q540", 0xC1C6},  {"Q540A", 0xC1C6},
    {"M4010", 0xBE08}, {"M4010A", 0xBE08}, {"M4020", 0xBE00}, {"M4020A", 0xBE00},
    {"M4030", 0x9E00}, {"M4030A", 0x9E00}, {"M4040", 0xDDC6}, {"M4040A", 0xDDC6},
};

// Restriction id -> the functions it needs. A setting passes the even id of a pair, a reading the odd one.
constexpr ULONG kRestrictionBits[Restrictions::kRestrictionIdCount] = {
    PgxNotImplTransTime,
    PgxNotImplTransTime,  // 0, 1: Transition.LeadingEdge
    PgxNotImplTransTime,
    PgxNotImplTransTime,                         // 2, 3: Transition.TrailingEdge
    PgxNotImplTransTime | PgxNotImplLeTeCouple,  // 4: AutoCoupleTrailingEdge put
    PgxNotImplTransTime | PgxNotImplLeTeCouple,  // 5: AutoCoupleTrailingEdge get
    PgxNotImplTransTime | PgxNotImplTransHold,   // 6: Transition.Hold put
    PgxNotImplTransTime | PgxNotImplTransHold,   // 7: Transition.Hold get
    PgxNotImplAutoCalibrate,                     // 8: Instrument.Calibrate
    PgxNotImplLevel,                             // 9: Channel.Voltage, Current
    PgxNotImplLevel,
    PgxNotImplLevel,
    PgxNotImplLevel,  // 10-12
    PgxNotImplLimit,
    PgxNotImplLimit,  // 13, 14: LimitEnabled put, get
    PgxNotImplLimit,
    PgxNotImplLimit,  // 15, 16: Voltage/Current.Limit
    PgxNotImplOutImpedance,
    PgxNotImplOutImpedance,  // 17, 18: ImpedanceInternal
    PgxNotImplLoadComp,
    PgxNotImplLoadComp,  // 19, 20: ImpedanceExternalLoad
    PgxNotImplTrgOutSrc,
    PgxNotImplTrgOutSrc,  // 21, 22: TrgOutput.Source
    PgxNotImplOutputMath,
    PgxNotImplOutputMath,  // 23: ChannelMath, 24
    PgxNotImplOutStateCompl,
    PgxNotImplOutStateCompl,  // 25, 26: ComplementState
    PgxNotImplVxiTrigSource,
    PgxNotImplVxiTrigSource,  // 27, 28: TrgOutput.VxiSource
    PgxNotImplVxiTrigEnable,
    PgxNotImplVxiTrigEnable,  // 29, 30: TrgOutput.VxiTrigger
};

}  // namespace

ULONG Restrictions::RestrictionBits(int id) noexcept {
  return id >= 0 && id < kRestrictionIdCount ? kRestrictionBits[id] : 0;
}

LONG Restrictions::ModelMask(const char* model) noexcept {
  for (const ModelRow& row : kModels) {
    if (std::strcmp(row.model, model) == 0) return static_cast<LONG>(row.mask);
  }
  return -1;
}

HRESULT Restrictions::SetCurrModel(const char* model) noexcept {
  CallFrame frame("Restrictions::SetCurrModel");
  if (!model) return ReportError(E_POINTER);
  if (LONG mask = ModelMask(model); mask >= 0) mask_ = static_cast<ULONG>(mask);
  return S_OK;
}

HRESULT Restrictions::CheckRestriction(int id) const noexcept {
  // Members pass constants of the table; anything else is a fault of the caller, refused rather than read
  // beyond the table.
  if (id < 0 || id >= kRestrictionIdCount) return E_INVALIDARG;
  return CheckRestrictionMask(kRestrictionBits[id]);
}

HRESULT Restrictions::CheckRestrictionMask(ULONG bits) const noexcept {
  return (bits & mask_) != 0 ? kErrNotSupported : S_OK;
}

STDMETHODIMP Restrictions::get_BitMask(LONG* value) {
  CallFrame frame("Restrictions.BitMask");
  if (!value) return ReportError(E_POINTER);
  *value = static_cast<LONG>(mask_);
  return S_OK;
}

}  // namespace pgx::server
