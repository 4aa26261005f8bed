// Instrument: one pulse generator found by the Instruments collection. It owns the driver session, answers
// instrument-wide questions (identity, options, versions, self-test, calibration), sets the instrument-wide
// parameters (frequency, period, channel math, pulse mode) and hands out the children that carry the rest.
#pragma once

#include <string>

#include "automation/bstr.h"
#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Channels;
class Err;
class Mode;
class Pattern;
class PllReference;
class RawCommand;
class Restrictions;
class Setting;
class Status;
class Trigger;

class Instrument final : public PgxObject<Instrument, IInstrument, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Instrument";

  // ---- For the objects of the tree ----
  ViSession Session() const noexcept { return session_; }
  bool IsOpen() const noexcept { return session_ != 0; }
  // The error object of this instrument, created when none is attached yet.
  Err* AttachedErr() noexcept;
  // The restriction checks, answered by this instrument's Restrictions (created on first use).
  HRESULT CheckOwnRestriction(int id) noexcept;
  HRESULT CheckOwnRestrictionMask(ULONG bits) noexcept;
  HRESULT SetRestrictionModel(const char* model) noexcept;

  // ---- For the Instruments collection ----
  HRESULT SetResource(const char* resource_name, const ViAttributeInfo& attributes) noexcept;

  // ---- IInstrument ----
  STDMETHODIMP AttributeInfo(SAFEARRAY** array) override;
  STDMETHODIMP get_AutoDetect(VARIANT_BOOL* value) override;
  STDMETHODIMP put_AutoDetect(VARIANT_BOOL value) override;
  STDMETHODIMP get__Cmd(I_Cmd** value) override;
  STDMETHODIMP get_Caption(BSTR* value) override;
  STDMETHODIMP put_Caption(BSTR value) override;
  STDMETHODIMP Calibrate() override;
  STDMETHODIMP get_ChannelMath(PgxChannelMath* value) override;
  STDMETHODIMP put_ChannelMath(PgxChannelMath value) override;
  STDMETHODIMP get_Channels(IChannels** value) override;
  STDMETHODIMP Close() override;
  STDMETHODIMP DeviceClear() override;
  STDMETHODIMP get_Err(IErr** value) override;
  STDMETHODIMP get_Frequency(DOUBLE* value) override;
  STDMETHODIMP put_Frequency(DOUBLE value) override;
  STDMETHODIMP get_IdString(BSTR* value) override;
  STDMETHODIMP get_IsCalibrated(VARIANT_BOOL* value) override;
  STDMETHODIMP get_IsOpen(VARIANT_BOOL* value) override;
  STDMETHODIMP get_IsTransactionActive(LONG* byte_count, VARIANT_BOOL* value) override;
  STDMETHODIMP MeasureClkInFreq() override;
  STDMETHODIMP MeasureClkInPeriod() override;
  STDMETHODIMP get_Mode(IMode** value) override;
  STDMETHODIMP get_Name(BSTR* value) override;
  STDMETHODIMP get_Open(VARIANT_BOOL id_query, VARIANT_BOOL reset, VARIANT_BOOL auto_detect_errors,
                        VARIANT_BOOL* value) override;
  STDMETHODIMP get_Options(BSTR* value) override;
  STDMETHODIMP get_Parent(IDispatch** value) override;
  STDMETHODIMP get_Pattern(IPattern** value) override;
  STDMETHODIMP get_Period(DOUBLE* value) override;
  STDMETHODIMP put_Period(DOUBLE value) override;
  STDMETHODIMP get_PllReference(IPllReference** value) override;
  STDMETHODIMP get_PulseMode(LONG* length, PgxPulseMode* value) override;
  STDMETHODIMP put_PulseMode(LONG* length, PgxPulseMode value) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP get_Restrictions(IRestrictions** value) override;
  STDMETHODIMP get_SecurityState(VARIANT_BOOL* value) override;
  STDMETHODIMP put_SecurityState(VARIANT_BOOL value) override;
  STDMETHODIMP get_SelfTest(SHORT* result_as_number, BSTR* value) override;
  STDMETHODIMP get_Setting(ISetting** value) override;
  STDMETHODIMP get_Status(IStatus** value) override;
  STDMETHODIMP get_TimeOut(LONG* value) override;
  STDMETHODIMP put_TimeOut(LONG value) override;
  STDMETHODIMP Transaction(PgxTransaction action) override;
  STDMETHODIMP get_Trigger(ITrigger** value) override;
  STDMETHODIMP get_Version(PgxVersionData of_what, BSTR* value) override;

 private:
  friend class ChildHolder<Instrument>;
  Instrument() noexcept;
  ~Instrument() override;

  void Shutdown() noexcept override;
  HRESULT RestrictionsObject(Restrictions** out) noexcept;
  // E_NOTIMPL with one channel, else the output-math restriction.
  HRESULT IsChannelMathRestricted() noexcept;
  // Appends the server's product and file version.
  HRESULT GetSdkVersion(TextBuffer& text) noexcept;
  // A text query whose answer becomes a BSTR result.
  HRESULT QueryBstr(const char* query, BSTR* value) noexcept;
  // A text query whose answer is compared with `truth`.
  HRESULT QueryFlag(const char* query, const char* truth, VARIANT_BOOL* value) noexcept;

  auto_::Bstr caption_;
  std::string resource_name_;
  ViAttributeInfo attributes_{};
  SHORT auto_detect_ = 0;
  ViSession session_ = 0;
  LONG channel_math_ = PgxChannelMathOff;
  LONG pulse_mode_ = PgxPulseModeEnd;

  // Declared first, destroyed last: the other children report through it.
  ChildHolder<Err> err_;
  ChildHolder<Restrictions> restrictions_;
  ChildHolder<Channels> channels_;
  ChildHolder<Trigger> trigger_;
  ChildHolder<Mode> mode_;
  ChildHolder<Pattern> pattern_;
  ChildHolder<RawCommand> raw_command_;
  ChildHolder<PllReference> pll_reference_;
  ChildHolder<Setting> setting_;
  ChildHolder<Status> status_;
};

}  // namespace pgx::server
