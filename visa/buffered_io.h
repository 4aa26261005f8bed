#pragma once
// The formatted I/O buffers of a session at work: reads that take from the read buffer and refill it from
// the instrument, writes that collect in the write buffer and go out when it is full or flushed. The caller
// holds the session's lock.

#include "visa/objects.h"

namespace pgx::visa {

// Reads up to `size` bytes through the read buffer. Ends like viRead: VI_SUCCESS at the end of a message,
// VI_SUCCESS_TERM_CHAR at the termination character, VI_SUCCESS_MAX_CNT when `size` bytes came first.
ViStatus buffered_read(Object& session, ViByte* buf, ViUInt32 size, ViUInt32& count);
// Appends to the write buffer; sends what fills it (without END). `count` is what was taken.
ViStatus buffered_write(Object& session, const ViByte* buf, ViUInt32 size, ViUInt32& count);
// Sends what the write buffer holds, with END on its last byte when VI_ATTR_SEND_END_EN is on.
ViStatus flush_write_buffer(Object& session);
// Empties the read buffer; with `to_end_of_message`, also reads and drops the rest of a message of which
// the buffer held only a part.
ViStatus flush_read_buffer(Object& session, bool to_end_of_message);

}  // namespace pgx::visa
