#include "driver/call_barrier.h"

#include <exception>
#include <new>

#include "driver/scpi_text.h"

namespace pgx::driver {

namespace {

struct Detail {
  ViStatus status = VI_SUCCESS;  // VI_SUCCESS: none
  char text[256] = "";           // fixed, so that keeping a detail cannot fail for want of memory
};
// Static TLS, like the session cache: a plain offset from the thread pointer also when the driver is
// loaded with dlopen.
thread_local Detail t_detail __attribute__((tls_model("initial-exec")));

}  // namespace

void start_call() noexcept {
  t_detail.status = VI_SUCCESS;
}

ViStatus status_from_exception() noexcept {
  if (!std::current_exception()) return VI_ERROR_SYSTEM_ERROR;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return VI_ERROR_ALLOC;
  } catch (const std::exception& e) {
    copy_text(t_detail.text, sizeof t_detail.text, e.what());
    t_detail.status = VI_ERROR_SYSTEM_ERROR;
    return VI_ERROR_SYSTEM_ERROR;
  } catch (...) {
    return VI_ERROR_SYSTEM_ERROR;
  }
}

std::string_view call_detail(ViStatus status) noexcept {
  if (status == VI_SUCCESS || t_detail.status != status) return {};
  return t_detail.text;
}

}  // namespace pgx::driver
