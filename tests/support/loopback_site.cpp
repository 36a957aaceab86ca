#include "support/loopback_site.h"

#include <QBuffer>
#include <QImage>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace testsupport {

namespace {

int listenOn(int address, quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl((127u << 24) | unsigned(address));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 portOf(int fd) {
    sockaddr_in where{};
    socklen_t length = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
    return ntohs(where.sin_port);
}

bool sendAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray reply(int status, const QByteArray& type, const QByteArray& body,
                 const QByteArray& extra = {}) {
    const QByteArray reason = status == 200 ? "OK" : status == 302 ? "Found" : "Not Found";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + extra +
           "Connection: close\r\n\r\n" + body;
}

QByteArray filler(int bytes) {
    QByteArray text;
    while (text.size() < bytes)
        text += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod "
                "tempor incididunt ut labore et dolore magna aliqua.</p>\n";
    return text;
}

int numberAfter(const QByteArray& path, const QByteArray& prefix) {
    QByteArray rest = path.mid(prefix.size());
    const qsizetype dot = rest.indexOf('.');
    if (dot >= 0)
        rest.truncate(dot);
    bool ok = false;
    const int n = rest.toInt(&ok);
    return ok ? n : -1;
}

} // namespace

LoopbackSite::LoopbackSite(Options options) : options_(std::move(options)) {
    const int count = std::max(1, options_.addresses);
    openNow_.assign(count, 0);
    asking_.assign(count, 0);
    mostAsking_.assign(count, 0);
    mostAtOnce_.assign(count, 0);
    // Every address on one port: the first takes a free one, the others
    // follow; another process holding it on some address means another try.
    for (int attempt = 0; attempt < 50 && listenFds_.empty(); ++attempt) {
        std::vector<int> fds{listenOn(1, 0)};
        if (fds[0] < 0)
            break;
        const quint16 port = portOf(fds[0]);
        for (int address = 2; address <= count && fds.back() >= 0; ++address)
            fds.push_back(listenOn(address, port));
        if (fds.back() >= 0) {
            listenFds_ = fds;
            port_ = port;
        } else {
            for (int fd : fds)
                if (fd >= 0)
                    ::close(fd);
        }
    }
    if (listenFds_.empty() || ::pipe2(wakePipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("the loopback site cannot listen");

    QImage image(240, 160, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x, y, (x * y) % 256));
    QBuffer buffer(&picture_);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");

    started_ = std::chrono::steady_clock::now();
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackSite::~LoopbackSite() {
    stopping_ = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wakePipe_[1], &byte, 1);
    acceptThread_.join();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        allServed_.wait(lock, [this] { return activeConnections_ == 0; });
    }
    for (int fd : listenFds_)
        ::close(fd);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

QString LoopbackSite::url(int address, const QString& path) const {
    return QStringLiteral("http://127.0.0.%1:%2%3").arg(address).arg(port_).arg(path);
}

QByteArray LoopbackSite::colourOf(int n) {
    static const char* const colours[] = {"#c00000", "#00a000", "#0000c0", "#c0c000",
                                          "#c000c0", "#00c0c0", "#804000", "#404040"};
    return colours[std::abs(n) % 8];
}

qint64 LoopbackSite::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started_)
        .count();
}

int LoopbackSite::mostAtOnce(int address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return address >= 1 && address <= int(mostAtOnce_.size()) ? mostAtOnce_[address - 1] : 0;
}

int LoopbackSite::mostAskingAtOnce(int address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return address >= 1 && address <= int(mostAsking_.size()) ? mostAsking_[address - 1] : 0;
}

int LoopbackSite::mostAtOnceOverall() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mostOverall_;
}

QList<LoopbackSite::Seen> LoopbackSite::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void LoopbackSite::acceptLoop() {
    std::vector<pollfd> fds;
    for (int fd : listenFds_)
        fds.push_back({fd, POLLIN, 0});
    fds.push_back({wakePipe_[0], POLLIN, 0});
    while (!stopping_) {
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        for (size_t i = 0; i + 1 < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            const int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int address = int(i) + 1;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++activeConnections_;
                mostAtOnce_[i] = std::max(mostAtOnce_[i], ++openNow_[i]);
                mostOverall_ = std::max(mostOverall_, ++openOverall_);
            }
            std::thread([this, fd, address] { serve(fd, address); }).detach();
        }
    }
}

void LoopbackSite::waitUntilClosed(int fd) const {
    char scratch[4096];
    while (!stopping_) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (fds[0].revents && ::recv(fd, scratch, sizeof scratch, 0) <= 0)
            return;
    }
}

void LoopbackSite::endCounting(int address, bool& counted, bool& asking) {
    if (!counted)
        return;
    counted = false;
    std::lock_guard<std::mutex> lock(mutex_);
    --openNow_[address - 1];
    --openOverall_;
    if (asking)
        --asking_[address - 1];
    asking = false;
}

void LoopbackSite::serve(int fd, int address) {
    bool counted = true, asking = false;
    QByteArray request;
    char chunk[4096];
    while (!request.contains("\r\n\r\n") && request.size() < 65536 && !stopping_) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        request.append(chunk, n);
    }
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    if (words.size() >= 2) {
        Seen seen;
        seen.address = address;
        seen.method = words[0];
        seen.path = words[1];
        seen.browser = request.toLower().contains("\r\nuser-agent:");
        seen.atMs = nowMs();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            log_.append(seen);
            asking_[address - 1]++;
            mostAsking_[address - 1] = std::max(mostAsking_[address - 1], asking_[address - 1]);
            asking = true;
        }
        if (options_.silent.contains(address)) {
            waitUntilClosed(fd);
        } else {
            // The delay ends early when the site stops.
            pollfd wake{wakePipe_[0], POLLIN, 0};
            if (options_.delayMs > 0)
                ::poll(&wake, 1, options_.delayMs);
            if (!stopping_) {
                const QByteArray bytes = answer(seen.method, seen.path);
                // The connection stops counting as open just before its
                // answer goes out: a client that reads it and connects
                // again is then never counted twice, however the threads
                // are scheduled.
                endCounting(address, counted, asking);
                sendAll(fd, bytes);
            }
        }
    }
    endCounting(address, counted, asking);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--activeConnections_ == 0)
        allServed_.notify_all();
}

QByteArray LoopbackSite::answer(const QByteArray& method, const QByteArray& path) const {
    QByteArray full;
    if (path.startsWith("/page/")) {
        const int n = numberAfter(path, "/page/");
        const QByteArray body = "<!DOCTYPE html>\n<html><head><title>Page " +
                                QByteArray::number(n) +
                                "</title>\n<link rel=\"stylesheet\" href=\"/style.css\"></head>\n"
                                "<body style=\"background:" +
                                colourOf(n) + "\"><h1>Page " + QByteArray::number(n) +
                                "</h1>\n<img src=\"/picture.png\" width=\"240\" height=\"160\">\n" +
                                filler(3500) + "</body></html>\n";
        full = reply(200, "text/html", body);
    } else if (path.startsWith("/plain/")) {
        const QByteArray n = QByteArray::number(numberAfter(path, "/plain/"));
        full = reply(200, "text/html",
                     "<html><head><title>Plain " + n + "</title></head><body style=\"background:" +
                         colourOf(n.toInt()) + "\"><h1>Plain " + n + "</h1></body></html>");
    } else if (path == "/style.css") {
        full = reply(200, "text/css",
                     "body { font-family: sans-serif; margin: 2em; }\nh1 { color: white; }\n"
                     "p { color: #f0f0f0; line-height: 1.4; }\n");
    } else if (path == "/picture.png") {
        full = reply(200, "image/png", picture_);
    } else if (path.startsWith("/file/")) {
        full = reply(200, "application/zip", QByteArray(2048, 'z'));
    } else if (path.startsWith("/redirect/")) {
        full = reply(302, "text/html", "<html><body>Moved</body></html>",
                     "Location: /page/" + QByteArray::number(numberAfter(path, "/redirect/")) +
                         "\r\n");
    } else {
        full = reply(404, "text/html", "<html><body>Not here</body></html>");
    }
    if (method == "HEAD")
        full.truncate(full.indexOf("\r\n\r\n") + 4);
    return full;
}

} // namespace testsupport
