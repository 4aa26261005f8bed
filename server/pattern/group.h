// Group: one register group of the instrument's status reporting structure, the questionable status group
// (":STAT:QUES" registers) or the standard event status group ("*ESR?", "*ESE"). Status hands them out.
#pragma once

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Group final : public PgxObject<Group, IGroup, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Group";

  enum class Kind {
    kQuestionable = 0,
    kOperation = 1,  // the instruments have none
    kStandardEvent = 2,
    kNone = 3,
  };

  // ---- IGroup ----
  STDMETHODIMP get_ConditionRegister(SHORT* value) override;
  STDMETHODIMP get_EnableRegister(SHORT* value) override;
  STDMETHODIMP put_EnableRegister(SHORT value) override;
  STDMETHODIMP get_EventRegister(SHORT* value) override;
  STDMETHODIMP get_NegTransitionRegister(SHORT* value) override;
  STDMETHODIMP put_NegTransitionRegister(SHORT value) override;
  STDMETHODIMP get_PosTransitionReg(SHORT* value) override;
  STDMETHODIMP put_PosTransitionReg(SHORT value) override;

 private:
  friend class ChildHolder<Group>;
  explicit Group(Kind kind = Kind::kNone) noexcept : kind_(kind) {}

  enum Register { kCondition, kEnable, kEvent, kNegativeTransition, kPositiveTransition };
  // The SCPI that reads (`query`) or writes a register of this group; 0x80040467 where the group has no
  // such register, E_UNEXPECTED for the enable and event registers of no group.
  HRESULT Scpi(Register which, bool query, const char** scpi) const noexcept;
  HRESULT Read(Register which, SHORT* value) noexcept;
  HRESULT Write(Register which, SHORT value) noexcept;

  Kind kind_;
};

}  // namespace pgx::server
