#pragma once

#include <cstdint>

namespace quarn {

// Sends the whole buffer over a blocking socket; answers the count the peer's stack accepted,
// short when a send failed part-way and 0 for the invalid socket (-1, nothing sent). One send is
// made even for an empty buffer. Never raises SIGPIPE: a peer that has closed gives a short
// count, not the end of the process.
uint32_t SocketSendAll(int socket, const void* data, uint32_t length);

} // namespace quarn
