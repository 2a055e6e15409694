#include "script/nodes/SocketSend.h"

#include <cerrno>
#include <sys/socket.h>

namespace quarn {

uint32_t SocketSendAll(int socket, const void* data, uint32_t length) {
    if (socket == -1) {
        return 0;
    }
    const char* bytes = static_cast<const char*>(data);
    uint32_t sent = 0;
    do {
        const ssize_t count = send(socket, bytes + sent, length - sent, MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        sent += static_cast<uint32_t>(count);
    } while (sent < length);
    return sent;
}

} // namespace quarn
