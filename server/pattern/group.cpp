#include "server/pattern/group.h"

#include "driver/pgxgen.h"
#include "server/core/messages.h"
#include "server/pattern/checked_write.h"

namespace pgx::server {

namespace {

struct RegisterScpi {
  const char* query;
  const char* command;  // nullptr: read-only
};

// By register: condition, enable, event, negative and positive transition filter.
constexpr RegisterScpi kQuestionable[] = {
    {":STAT:QUES:COND?", nullptr},         {":STAT:QUES:ENAB?", ":STAT:QUES:ENAB"},
    {":STAT:QUES:EVEN?", nullptr},         {":STAT:QUES:NTR?", ":STAT:QUES:NTR"},
    {":STAT:QUES:PTR?", ":STAT:QUES:PTR"},
};
constexpr RegisterScpi kStandardEvent[] = {
    {nullptr, nullptr}, {"*ESE?", "*ESE"}, {"*ESR?", nullptr}, {nullptr, nullptr}, {nullptr, nullptr},
};

}  // namespace

HRESULT Group::Scpi(Register which, bool query, const char** scpi) const noexcept {
  const RegisterScpi* table = kind_ == Kind::kQuestionable    ? kQuestionable
                              : kind_ == Kind::kStandardEvent ? kStandardEvent
                                                              : nullptr;
  if (table) {
    *scpi = query ? table[which].query : table[which].command;
    if (*scpi) return S_OK;
  }
  return kind_ == Kind::kNone && (which == kEnable || which == kEvent) ? E_UNEXPECTED : kErrNotSupported;
}

HRESULT Group::Read(Register which, SHORT* value) noexcept {
  if (!value) return ReportError(E_POINTER);
  const char* query = nullptr;
  if (HRESULT hr = Scpi(which, true, &query); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_cmdInt16_Q(GetSession(), query, value));
}

// The 16-bit value goes out sign-extended; the instrument judges it.
HRESULT Group::Write(Register which, SHORT value) noexcept {
  const char* command = nullptr;
  if (HRESULT hr = Scpi(which, false, &command); FAILED(hr)) return ReportError(hr);
  return CheckStatus(WriteChecked(GetSession(), command, value));
}

STDMETHODIMP Group::get_ConditionRegister(SHORT* value) {
  CallFrame frame("Group.ConditionRegister");
  return Read(kCondition, value);
}

STDMETHODIMP Group::get_EnableRegister(SHORT* value) {
  CallFrame frame("Group.EnableRegister");
  return Read(kEnable, value);
}

STDMETHODIMP Group::put_EnableRegister(SHORT value) {
  CallFrame frame("Group.EnableRegister");
  return Write(kEnable, value);
}

// Reading the event register clears it.
STDMETHODIMP Group::get_EventRegister(SHORT* value) {
  CallFrame frame("Group.EventRegister");
  return Read(kEvent, value);
}

STDMETHODIMP Group::get_NegTransitionRegister(SHORT* value) {
  CallFrame frame("Group.NegTransitionRegister");
  return Read(kNegativeTransition, value);
}

STDMETHODIMP Group::put_NegTransitionRegister(SHORT value) {
  CallFrame frame("Group.NegTransitionRegister");
  return Write(kNegativeTransition, value);
}

STDMETHODIMP Group::get_PosTransitionReg(SHORT* value) {
  CallFrame frame("Group.PosTransitionReg");
  return Read(kPositiveTransition, value);
}

STDMETHODIMP Group::put_PosTransitionReg(SHORT value) {
  CallFrame frame("Group.PosTransitionReg");
  return Write(kPositiveTransition, value);
}

}  // namespace pgx::server
