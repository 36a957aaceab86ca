#include "planted_listener.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

namespace {

constexpr uid_t Nobody = 65534;

// The child's whole life: system calls only, as after a fork of a process
// with threads nothing else is safe.
[[noreturn]] void serve(const QByteArray& path, const QByteArray& answer,
                        PlantedListener::Plant owners, int reports) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(),
                std::min(size_t(path.size()), sizeof address.sun_path - 1));
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const auto bound = [&] {
        return ::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    };
    // A file of nobody's is bound by nobody, or given to it by root.
    const bool bindAsNobody = owners.fileOfNobody && owners.processOfNobody;
    if (!bindAsNobody && !bound())
        ::_exit(1);
    if (owners.fileOfNobody && !owners.processOfNobody &&
        ::lchown(path.constData(), Nobody, Nobody) != 0)
        ::_exit(1);
    // The credentials a client sees are those of the listen() below.
    if (owners.processOfNobody &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
         ::setresuid(Nobody, Nobody, Nobody) != 0))
        ::_exit(1);
    if (bindAsNobody && !bound())
        ::_exit(1);
    if (owners.holdsLock) {
        char lock[sizeof address.sun_path + 8];
        std::memcpy(lock, address.sun_path, sizeof address.sun_path);
        std::strcat(lock, ".lock");
        const int fd = ::open(lock, O_RDWR | O_CREAT, 0666);
        if (fd < 0 || ::fchmod(fd, 0666) != 0 || ::flock(fd, LOCK_EX) != 0)
            ::_exit(1);
    }
    if (::listen(server, 16) != 0)
        ::_exit(1);
    long ready = -1;
    ::write(reports, &ready, sizeof ready);
    for (;;) {
        const int client = ::accept(server, nullptr, nullptr);
        if (client < 0)
            continue;
        long count = 0;
        pollfd wait{client, POLLIN, 0};
        char buffer[256];
        while (::poll(&wait, 1, 500) > 0) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            count += n;
        }
        ::write(reports, &count, sizeof count);
        ::send(client, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
        ::close(client);
    }
}

} // namespace

PlantedListener::PlantedListener(const QString& path, const QByteArray& answer, Plant plant)
    : path_(QFile::encodeName(path)), holdsLock_(plant.holdsLock) {
    const QByteArray& nativePath = path_;
    ::unlink(nativePath.constData());
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return;
    child_ = ::fork();
    if (child_ == 0) {
        ::close(pipeEnds[0]);
        serve(nativePath, answer, plant, pipeEnds[1]);
    }
    ::close(pipeEnds[1]);
    reports_ = pipeEnds[0];
    pollfd wait{reports_, POLLIN, 0};
    long ready = 0;
    listening_ = child_ > 0 && ::poll(&wait, 1, 5000) > 0 &&
                 ::read(reports_, &ready, sizeof ready) == sizeof ready && ready == -1;
}

PlantedListener::~PlantedListener() {
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
    if (reports_ >= 0)
        ::close(reports_);
    ::unlink(path_.constData());
    if (holdsLock_)
        ::unlink((path_ + ".lock").constData());
}

long PlantedListener::bytesReceived() {
    pollfd wait{reports_, POLLIN, 0};
    long count = 0;
    while (reports_ >= 0 && ::poll(&wait, 1, 0) > 0 &&
           ::read(reports_, &count, sizeof count) == sizeof count)
        received_ += count;
    return received_;
}

} // namespace e2e
