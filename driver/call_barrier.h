#pragma once
// The barrier at the edge of every driver call: no exception leaves a pgxgen_* function. An exception that
// reaches the barrier becomes a status, and its what() stays with the calling thread as the detail of that
// status, so that pgxgen_error_message can say what went wrong. Every call starts by forgetting the detail
// of the call before it: a detail only ever describes the status of the last call on its thread.

#include <string_view>

#include "visa/visa.h"

namespace pgx::driver {

// Forgets the thread's detail; the first thing every driver call does.
void start_call() noexcept;

// For a catch block of a barrier: VI_ERROR_ALLOC for std::bad_alloc, VI_ERROR_SYSTEM_ERROR for anything
// else, keeping what() of a std::exception (at most 255 bytes) as the thread's detail of that status.
ViStatus status_from_exception() noexcept;

// What the last driver call on this thread left as the detail of `status`: empty unless that call ended
// in an exception with this status.
std::string_view call_detail(ViStatus status) noexcept;

}  // namespace pgx::driver
