#include "webserver/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <sys/sendfile.h>
#include <unistd.h>

namespace webserver {

FileStream::FileStream(int fd, qint64 length) : fd_(fd), left_(std::max<qint64>(length, 0)) {
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void FileStream::reopen(int fd, qint64 length) {
    close();
    fd_ = fd;
    left_ = std::max<qint64>(length, 0);
    direct_ = true;
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

FileStream::~FileStream() {
    FileStream::close();
}

void FileStream::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    left_ = 0;
    QIODevice::close();
}

FileStream::Sent FileStream::sendTo(int socket, qint64 most) {
    if (left_ <= 0 || fd_ < 0)
        return Sent::Done;
    const ssize_t sent = ::sendfile(socket, fd_, nullptr, size_t(std::min(left_, most)));
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

qint64 FileStream::readData(char* data, qint64 maxSize) {
    if (fd_ < 0)
        return -1;
    const qint64 wanted = std::min(maxSize, left_);
    if (wanted <= 0)
        return 0;
    ssize_t got;
    do {
        got = ::read(fd_, data, size_t(wanted));
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return -1;
    if (got == 0)
        left_ = 0; // the file became shorter: the stream ends here
    left_ -= got;
    return got;
}

} // namespace webserver
