// Channels: the output channels of one open Instrument, found by asking the instrument which output
// front-ends it has ("*OPT?"). Each channel is created with its front-end's model, which sets the model
// restrictions of the instrument. The collection fills itself on first use and again on every Refresh.
#pragma once

#include <string>

#include "server/core/pgx_object.h"
#include "server/pgxsrv_idl.h"

namespace pgx::server {

class Channel;

class Channels final : public PgxObject<Channels, IChannels, Level::kInstrument> {
 public:
  static constexpr const char* kClassName = "Channels";
  static constexpr int kMaxFrontEnds = 2;

  // ---- IChannels ----
  STDMETHODIMP get_Count(LONG* value) override;
  STDMETHODIMP get_Item(LONG index, IChannel** value) override;
  STDMETHODIMP get__NewEnum(IUnknown** value) override;
  STDMETHODIMP Refresh() override;

  // The front-ends found by the last discovery (for tests and diagnostics).
  int FrontEndCount() const noexcept { return front_end_count_; }
  const std::string& FrontEndName(int slot) const noexcept { return front_end_names_[slot]; }

 private:
  friend class ChildHolder<Channels>;
  Channels() noexcept;
  ~Channels() override;

  // Runs Refresh when the collection is empty.
  HRESULT FillOnDemand() noexcept;
  void Clear() noexcept;
  HRESULT GetFrontEnds() noexcept;
  HRESULT GetChannelAtIndex(LONGLONG index, IChannel** out) noexcept;

  ChildHolder<Channel> channels_[kMaxFrontEnds];
  bool filled_ = false;  // the channel array exists
  USHORT channel_count_ = 0;
  USHORT front_end_count_ = 0;
  std::string front_end_names_[kMaxFrontEnds];
};

}  // namespace pgx::server
