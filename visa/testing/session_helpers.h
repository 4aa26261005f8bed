#pragma once
// Small helpers for tests that talk to instruments through the VISA API.

#include <string>
#include <string_view>

#include "visa/visa.h"

namespace pgx::visa::testing {

inline ViStatus write_text(ViSession vi, std::string_view text) {
  ViUInt32 count = 0;
  return viWrite(vi, reinterpret_cast<ViConstBuf>(text.data()), static_cast<ViUInt32>(text.size()), &count);
}

// Reads one reply; `status` receives the read's status.
inline std::string read_text(ViSession vi, ViStatus* status = nullptr, ViUInt32 max = 4096) {
  std::string reply(max, '\0');
  ViUInt32 count = 0;
  ViStatus rc = viRead(vi, reinterpret_cast<ViPBuf>(reply.data()), max, &count);
  if (status) *status = rc;
  reply.resize(count);
  return reply;
}

// Writes a query and reads its reply (empty when either fails).
inline std::string query(ViSession vi, std::string_view text, ViStatus* status = nullptr) {
  ViStatus rc = write_text(vi, text);
  if (rc < VI_SUCCESS) {
    if (status) *status = rc;
    return {};
  }
  return read_text(vi, status);
}

// Owns a resource manager session; closes it at the end of the scope.
class ResourceManager {
 public:
  ResourceManager() { status_ = viOpenDefaultRM(&vi_); }
  ~ResourceManager() {
    if (vi_ != VI_NULL) viClose(vi_);
  }
  ResourceManager(const ResourceManager&) = delete;
  ResourceManager& operator=(const ResourceManager&) = delete;
  ViSession get() const { return vi_; }
  ViStatus status() const { return status_; }
  operator ViSession() const { return vi_; }

 private:
  ViSession vi_ = VI_NULL;
  ViStatus status_;
};

}  // namespace pgx::visa::testing
