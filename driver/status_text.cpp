#include "driver/status_text.h"

#include <cstdint>
#include <cstdio>

#include "driver/pgxgen.h"

namespace pgx::driver {

namespace {

struct StatusRow {
  unsigned long code;
  const char* text;
};

// Ordered by code so a reader finds a status quickly; looked up linearly (the table is small and the
// lookup happens only when a caller asks for a message).
constexpr StatusRow kStatusTexts[] = {
    {0x00000000UL, "No error: the operation completed successfully."},
    // VISA completion codes and warnings.
    {0x3FFF0002UL, "The specified event is already enabled for at least one of the specified mechanisms."},
    {0x3FFF0003UL, "The specified event is already disabled for at least one of the specified mechanisms."},
    {0x3FFF0004UL, "The operation completed successfully, but the queue was already empty."},
    {0x3FFF0005UL, "The specified termination character was read."},
    {0x3FFF0006UL, "The number of bytes read is equal to the input count."},
    {0x3FFF000CUL, "The event queue overflowed; some events were lost."},
    {0x3FFF0077UL, "The specified configuration either does not exist or could not be loaded."},
    {0x3FFF007DUL, "Session opened successfully, but the device at the specified address is not responding."},
    {0x3FFF007EUL, "The path from the source to the destination trigger line was already mapped."},
    {0x3FFF0080UL,
     "Wait terminated successfully on receipt of an event notification; more events are queued."},
    {0x3FFF0082UL, "The specified object reference is uninitialized."},
    {0x3FFF0084UL, "The attribute state is not supported by this resource."},
    {0x3FFF0085UL, "The status code passed to the operation could not be interpreted."},
    {0x3FFF0088UL, "The specified I/O buffer type is not supported."},
    {0x3FFF0098UL, "The event was handled successfully; do not invoke any other handlers on this session."},
    {0x3FFF0099UL, "The lock was acquired successfully; this session already held a shared lock."},
    {0x3FFF009AUL, "The lock was acquired successfully; this session already held an exclusive lock."},
    {0x3FFF009BUL, "The asynchronous operation completed synchronously."},
    {0x3FFF00A9UL,
     "The operation succeeded, but a lower-level driver did not implement the extended function."},
    // Driver warnings.
    {0x3FFC0101UL, "Identification query not supported."},
    {0x3FFC0102UL, "Reset not supported."},
    {0x3FFC0103UL, "Self-test not supported."},
    {0x3FFC0104UL, "Error query not supported."},
    {0x3FFC0105UL, "Revision query not supported."},
    {0x3FFC0D0BUL, "No transaction is active; nothing was sent."},
    // VISA errors.
    {0xBFFF0000UL, "Unknown system error (miscellaneous error)."},
    {0xBFFF000EUL, "The given session or object reference is invalid."},
    {0xBFFF000FUL,
     "The specified type of lock cannot be obtained, or the operation cannot be performed, because the "
     "resource is locked."},
    {0xBFFF0010UL, "Invalid expression specified for search."},
    {0xBFFF0011UL, "Insufficient location information, or the requested device or resource is not present."},
    {0xBFFF0012UL, "Invalid resource reference specified; parsing error."},
    {0xBFFF0013UL, "Invalid access mode."},
    {0xBFFF0015UL, "Timeout expired before the operation completed."},
    {0xBFFF0016UL, "The VISA system failed to deallocate the session."},
    {0xBFFF001BUL, "The specified degree is invalid."},
    {0xBFFF001CUL, "The specified job identifier is invalid."},
    {0xBFFF001DUL, "The specified attribute is not defined or not supported by the referenced resource."},
    {0xBFFF001EUL, "The specified state of the attribute is not valid or is not supported."},
    {0xBFFF001FUL, "The specified attribute is read-only."},
    {0xBFFF0020UL, "The specified type of lock is not supported by this resource."},
    {0xBFFF0021UL, "The access key to the specified resource is invalid."},
    {0xBFFF0026UL, "The specified event type is not supported by the resource."},
    {0xBFFF0027UL, "Invalid mechanism specified."},
    {0xBFFF0028UL, "A handler was not installed."},
    {0xBFFF0029UL, "The given handler reference is invalid."},
    {0xBFFF002AUL, "The specified event context is invalid."},
    {0xBFFF002DUL, "The event queue for the specified type has overflowed."},
    {0xBFFF002FUL, "The session must be enabled for events of the specified type to receive them."},
    {0xBFFF0030UL, "The operation was aborted."},
    {0xBFFF0034UL, "Violation of the raw write protocol occurred during the transfer."},
    {0xBFFF0035UL, "Violation of the raw read protocol occurred during the transfer."},
    {0xBFFF0036UL, "Device reported an output protocol error during the transfer."},
    {0xBFFF0037UL, "Device reported an input protocol error during the transfer."},
    {0xBFFF0038UL, "Bus error occurred during the transfer."},
    {0xBFFF0039UL, "Unable to queue the asynchronous operation because an operation is in progress."},
    {0xBFFF003AUL, "Unable to start the operation because the setup is invalid."},
    {0xBFFF003BUL, "Unable to queue the asynchronous operation."},
    {0xBFFF003CUL, "Insufficient system resources to perform the operation."},
    {0xBFFF003DUL, "Invalid buffer mask specified."},
    {0xBFFF003EUL, "Could not perform the operation because of an I/O error."},
    {0xBFFF003FUL, "A format specifier in the format string is invalid."},
    {0xBFFF0041UL, "A format specifier in the format string is not supported."},
    {0xBFFF0042UL, "The specified trigger line is currently in use."},
    {0xBFFF0046UL, "The specified mode is not supported by this VISA implementation."},
    {0xBFFF004AUL, "Service request has not been received for the session."},
    {0xBFFF004EUL, "Invalid address space specified."},
    {0xBFFF0051UL, "Invalid offset specified."},
    {0xBFFF0052UL, "Invalid access width specified."},
    {0xBFFF0054UL, "The specified offset is not accessible from this hardware."},
    {0xBFFF0055UL, "Cannot support source and destination widths that are different."},
    {0xBFFF0057UL, "The specified session is not currently mapped."},
    {0xBFFF0059UL, "A previous response is still pending, causing a multiple query error."},
    {0xBFFF005FUL, "No listeners condition is detected (both NRFD and NDAC are deasserted)."},
    {0xBFFF0060UL, "The interface associated with this session is not currently the controller in charge."},
    {0xBFFF0061UL, "The interface associated with this session is not the system controller."},
    {0xBFFF0067UL, "The given session or object reference does not support this operation."},
    {0xBFFF0068UL, "An interrupt is still pending from a previous call."},
    {0xBFFF006AUL, "A parity error occurred during the transfer."},
    {0xBFFF006BUL, "A framing error occurred during the transfer."},
    {0xBFFF006CUL, "An overrun error occurred during the transfer."},
    {0xBFFF006EUL, "The path from the source to the destination trigger line is not currently mapped."},
    {0xBFFF0070UL, "The specified offset is not properly aligned for the access width of the operation."},
    {0xBFFF0071UL, "A specified user buffer is not valid or cannot be accessed for the required size."},
    {0xBFFF0072UL, "The resource is valid, but VISA cannot currently access it."},
    {0xBFFF0076UL, "The specified width is not supported by this hardware."},
    {0xBFFF0078UL, "The value of some parameter (which parameter is not known) is invalid."},
    {0xBFFF0079UL, "The protocol specified is invalid."},
    {0xBFFF007BUL, "Invalid size of window specified."},
    {0xBFFF0080UL, "The specified session currently contains a mapped window."},
    {0xBFFF0081UL, "The given operation is not implemented."},
    {0xBFFF0083UL, "Invalid length specified."},
    {0xBFFF0091UL, "The specified mode is invalid."},
    {0xBFFF009CUL, "The current session did not have a lock on the resource."},
    {0xBFFF009DUL, "The device does not export any memory."},
    {0xBFFF009EUL, "A code library required by VISA could not be located or loaded."},
    {0xBFFF009FUL,
     "The interface cannot generate an interrupt on the requested level or with the requested value."},
    {0xBFFF00A0UL, "The value specified by the line parameter is invalid."},
    {0xBFFF00A1UL,
     "An error occurred while trying to open the specified file; possible reasons include an invalid "
     "path or lack of access rights."},
    {0xBFFF00A2UL, "An error occurred while performing I/O on the specified file."},
    {0xBFFF00A3UL, "One of the specified lines is not supported by this VISA implementation."},
    {0xBFFF00A4UL, "The specified mechanism is not supported for the given event type."},
    {0xBFFF00A5UL, "The interface type is valid but the specified interface number is not configured."},
    {0xBFFF00A6UL, "The connection for the given session has been lost."},
    {0xBFFF00A7UL, "The remote machine does not exist or is not accepting any connections."},
    {0xBFFF00A8UL, "Access to the resource or remote machine is denied."},
    // Driver errors.
    {0xBFFC0001UL, "Parameter 1 is invalid."},
    {0xBFFC0002UL, "Parameter 2 is invalid."},
    {0xBFFC0003UL, "Parameter 3 is invalid."},
    {0xBFFC0004UL, "Parameter 4 is invalid."},
    {0xBFFC0005UL, "Parameter 5 is invalid."},
    {0xBFFC0006UL, "Parameter 6 is invalid."},
    {0xBFFC0007UL, "Parameter 7 is invalid."},
    {0xBFFC0008UL, "Parameter 8 is invalid."},
    {0xBFFC0011UL, "The instrument failed the identification query: it is not a PGX pulse generator."},
    {0xBFFC0012UL, "The instrument's response could not be interpreted."},
    {0xBFFC0D07UL, "The instrument reported an error; read its error queue for details."},
    {0xBFFC0D08UL, "A transaction is already active."},
    {0xBFFC0D09UL, "The file could not be read or written."},
    {0xBFFC0D0AUL, "The file does not have the expected content."},
    {0xBFFC0D20UL, "The channel is not installed in this instrument."},
    {0xBFFC0D21UL, "The installed front-end does not support this function."},
    {0xBFFC0D22UL, "VXI trigger lines are only available on VXI modules."},
    {0xBFFC0D23UL, "The burst length is out of range (2 to 65536)."},
    {0xBFFC0D24UL, "The pattern length is out of range (1 to 16384)."},
    {0xBFFC0D25UL, "The pattern data contains a position that is neither 0 nor 1."},
    {0xBFFC0D26UL, "The setting memory number is out of range (0 to 9)."},
    {0xBFFC0D27UL, "The PRBS polynomial exponent is out of range (7 to 14)."},
    {0xBFFC0D29UL, "The PLL frequency or period must be a positive number."},
};

}  // namespace

const char* status_text(ViStatus status) {
  const unsigned long code = static_cast<unsigned long>(static_cast<std::uint32_t>(status));
  for (const StatusRow& row : kStatusTexts) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

std::string status_message(ViStatus status) {
  if (const char* text = status_text(status)) return text;
  char text[64];
  std::snprintf(text, sizeof text, "Unknown status code 0x%08X.", static_cast<unsigned>(status));
  return text;
}

}  // namespace pgx::driver
