#include "server/core/call_name_stack.h"

namespace pgx::server {

CallNameStack& CallNameStack::Current() noexcept {
  static thread_local CallNameStack stack;
  return stack;
}

}  // namespace pgx::server
