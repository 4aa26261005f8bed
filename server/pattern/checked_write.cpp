#include "server/pattern/checked_write.h"

#include "driver/pgxgen.h"

namespace pgx::server {

ViStatus WriteChecked(ViSession session, const char* header, ViInt32 value) noexcept {
  ViBoolean checked = VI_FALSE;
  if (ViStatus status = pgxgen_errorQueryDetect_Q(session, &checked); status < VI_SUCCESS) return status;
  if (checked) return pgxgen_cmdInt(session, header, value);
  if (ViStatus status = pgxgen_errorQueryDetect(session, VI_TRUE); status < VI_SUCCESS) return status;
  const ViStatus written = pgxgen_cmdInt(session, header, value);
  const ViStatus restored = pgxgen_errorQueryDetect(session, VI_FALSE);
  return written < VI_SUCCESS || restored >= VI_SUCCESS ? written : restored;
}

}  // namespace pgx::server
