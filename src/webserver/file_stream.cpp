#include "webserver/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <sys/sendfile.h>

namespace webserver {

FileStream::Sent FileStream::sendTo(int socket, qint64 most) {
    if (left_ <= 0)
        return Sent::Done;
    const ssize_t sent = ::sendfile(socket, handle(), nullptr, size_t(std::min(left_, most)));
    if (sent > 0) {
        left_ -= sent;
        return Sent::Some;
    }
    if (sent == 0)
        return Sent::Done; // the file became shorter while it was sent
    if (errno == EINTR)
        return Sent::Some;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return Sent::WouldBlock;
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        direct_ = false;
        return Sent::Unsupported;
    }
    return Sent::Failed;
}

} // namespace webserver
