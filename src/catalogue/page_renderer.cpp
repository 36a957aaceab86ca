#include "catalogue/page_renderer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSemaphore>
#include <QSet>
#include <QStandardPaths>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Q_LOGGING_CATEGORY(rendererTrace, "pagorama.renderer", QtWarningMsg)

namespace catalogue {

namespace {

constexpr int kPageWidth = 1024;
constexpr int kPageHeight = 768;
constexpr int kThumbnailSide = 122;
// The first exchange with a new browser also waits for its start-up.
constexpr int kStartUpMs = 30000;
// How long a capture on another thread waits for the owning thread to start
// the browser.
constexpr int kStartRequestMs = 20000;
// A message larger than this is no answer we asked for.
constexpr qsizetype kMaxMessageBytes = 256 * 1024 * 1024;
// The browser profiles in the temporary folder, and the lock file in each
// that tells whether its program still runs.
constexpr char kProfilePrefix[] = "pagorama-browser-";
constexpr char kOwnerFile[] = ".owner-lock";
constexpr int kProfileGraceSeconds = 600;

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Moves a descriptor above the numbers the child's pipe ends take, so
// setting up 3 and 4 in the child never overwrites one of them.
int moveHigh(int fd) {
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

bool waitReady(int fd, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return false;
        const int rc = ::poll(&entry, 1, int(qMin<qint64>(left, 1000)));
        if (rc > 0)
            return true; // readable, writable, or an error the next call reports
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

// Writes all bytes. A browser that has gone away makes the write fail with
// EPIPE; the signal that comes with it is blocked for this thread and taken
// back, so it never ends the program.
bool writeAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline) {
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool ok = true;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && waitReady(fd, POLLOUT, deadline))
            continue;
        if (n < 0 && errno == EPIPE) {
            const timespec zero{0, 0};
            sigtimedwait(&pipeSignal, nullptr, &zero);
        }
        ok = false;
        break;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

// Starts argv[0] with the pipe ends as its descriptors 3 and 4 and its
// standard streams on /dev/null, in a process group of its own (so stopping
// it reaches every process it starts) and with signals as a fresh program
// expects them. It is killed when the calling thread (the program's main
// thread) ends, also by kill -9, so no browser ever outlives the program.
pid_t spawnInOwnGroup(char* const argv[], char* const envp[], int toChild, int fromChild) {
    // The child reports a failed exec through this pipe; it closes unread
    // when the exec succeeds.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    report[0] = moveHigh(report[0]);
    report[1] = moveHigh(report[1]);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child: only calls that are safe after fork in a threaded program.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127); // the program ended before the line above
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd)
            ::dup2(null, fd);
        ::dup2(toChild, 3);
        ::dup2(fromChild, 4);
        ::close_range(5, unsigned(report[1]) - 1, 0);
        ::close_range(unsigned(report[1]) + 1, ~0U, 0);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
            ::sigaction(signalNumber, &byDefault, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv, envp);
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return -1;
    }
    ::setpgid(pid, pid); // also here, so the group exists when this returns
    int error = 0;
    ssize_t got;
    do
        got = ::read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == ssize_t(sizeof error)) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return pid;
}

} // namespace

// One conversation with the browser over the pipe: numbered commands and
// their answers, with the events in between.
class PageRenderer::Session {
public:
    Session(PageRenderer& owner, int toBrowser, int fromBrowser)
        : owner_(owner), out_(toBrowser), in_(fromBrowser) {}

    bool broken() const { return broken_; }

    // Sends a command and returns its number, or 0 when it could not be sent.
    int send(const QString& method, const QJsonObject& params, const QString& sessionId,
             const QDeadlineTimer& deadline) {
        if (broken_)
            return 0;
        const int id = owner_.nextMessageId_++;
        QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
        if (!sessionId.isEmpty())
            message.insert("sessionId", sessionId);
        QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
        qCDebug(rendererTrace) << "sent" << bytes.left(300);
        bytes.append('\0');
        if (!writeAll(out_, bytes, deadline)) {
            broken_ = true;
            return 0;
        }
        return id;
    }

    // Reads messages until one matches; nothing on time-out or a broken pipe.
    std::optional<QJsonObject> waitFor(const std::function<bool(const QJsonObject&)>& wanted,
                                       const QDeadlineTimer& deadline) {
        while (!broken_) {
            while (auto message = takeMessage()) {
                if (wanted(*message))
                    return message;
            }
            if (broken_ || !fill(deadline))
                return std::nullopt;
        }
        return std::nullopt;
    }

    // Sends a command and waits for its answer's result; nothing when the
    // answer is an error, late, or never comes.
    std::optional<QJsonObject> call(const QString& method, const QJsonObject& params,
                                    const QString& sessionId, int timeoutMs) {
        const QDeadlineTimer deadline(timeoutMs);
        const int id = send(method, params, sessionId, deadline);
        if (id == 0)
            return std::nullopt;
        const auto answer =
            waitFor([id](const QJsonObject& m) { return m.value("id").toInt() == id; }, deadline);
        if (!answer || answer->contains("error"))
            return std::nullopt;
        return answer->value("result").toObject();
    }

private:
    std::optional<QJsonObject> takeMessage() {
        QByteArray& buffer = owner_.pipeBuffer_;
        const qsizetype end = buffer.indexOf('\0');
        if (end < 0)
            return std::nullopt;
        qCDebug(rendererTrace) << "received" << buffer.left(qMin<qsizetype>(end, 300));
        const QJsonDocument document = QJsonDocument::fromJson(buffer.left(end));
        buffer.remove(0, end + 1);
        return document.isObject() ? document.object() : QJsonObject{};
    }

    // Reads what the browser has sent; false on time-out, end of pipe or error.
    bool fill(const QDeadlineTimer& deadline) {
        QByteArray& buffer = owner_.pipeBuffer_;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(in_, chunk, sizeof chunk);
            if (n > 0) {
                buffer.append(chunk, n);
                if (buffer.size() > kMaxMessageBytes)
                    broken_ = true;
                return !broken_;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                broken_ = true; // the browser closed its end: it has died
                return false;
            }
            if (errno == EAGAIN && !waitReady(in_, POLLIN, deadline))
                return false;
        }
    }

    PageRenderer& owner_;
    int out_;
    int in_;
    bool broken_ = false;
};

PageRenderer::PageRenderer(QObject* parent) : QObject(parent) {}

PageRenderer::~PageRenderer() {
    stop();
}

void PageRenderer::setBrowserPath(const QString& path) {
    QMutexLocker lock(&stateMutex_);
    browserPath_ = path;
}

QString PageRenderer::browserPath() const {
    QMutexLocker lock(&stateMutex_);
    return browserPath_.isEmpty() ? findBrowser() : browserPath_;
}

QString PageRenderer::findBrowser() {
    const QFileInfo installed(QStringLiteral("/usr/bin/chromium"));
    if (installed.isFile() && installed.isExecutable())
        return installed.filePath();
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty())
            return found;
    }
    return {};
}

void PageRenderer::setTimeouts(int loadMs, int commandMs) {
    QMutexLocker lock(&stateMutex_);
    loadTimeoutMs_ = loadMs;
    commandTimeoutMs_ = commandMs;
}

bool PageRenderer::start() {
    if (shutDown_)
        return false;
    QMutexLocker lock(&stateMutex_);
    if (pid_ > 0 && !reaped_) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0)
            return true;
        reaped_ = true;
    }
    endBrowser();
    return spawnBrowser();
}

bool PageRenderer::spawnBrowser() {
    const QString program = browserPath_.isEmpty() ? findBrowser() : browserPath_;
    if (program.isEmpty())
        return false;

    QByteArray profileTemplate =
        QFile::encodeName(QDir::tempPath()) + '/' + kProfilePrefix + "XXXXXX";
    if (!::mkdtemp(profileTemplate.data()))
        return false;
    profileDir_ = QString::fromLocal8Bit(profileTemplate);
    // Held while the folder is in use; a folder whose lock nobody holds is
    // left over from a copy of the program that has ended.
    const QByteArray ownerPath = profileTemplate + '/' + kOwnerFile;
    profileLock_ = ::open(ownerPath.constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (profileLock_ >= 0)
        ::flock(profileLock_, LOCK_EX);
    // The browser's crash handler keeps its reports in the profile too,
    // never in the user's own browser folders.
    QByteArray crashFolder = "BREAKPAD_DUMP_LOCATION=" + profileTemplate + "/Crash Reports";
    std::vector<char*> childEnvironment;
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "BREAKPAD_DUMP_LOCATION=", 23) != 0)
            childEnvironment.push_back(*variable);
    childEnvironment.push_back(crashFolder.data());
    childEnvironment.push_back(nullptr);

    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        endBrowser();
        return false;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        endBrowser();
        return false;
    }
    for (int* fd : {&toChild[0], &toChild[1], &fromChild[0], &fromChild[1]})
        *fd = moveHigh(*fd);

    QList<QByteArray> args{program.toLocal8Bit(),
                           "--headless",
                           "--disable-gpu",
                           "--disable-background-networking",
                           "--disable-component-update",
                           "--disable-sync",
                           "--no-first-run",
                           "--mute-audio",
                           "--hide-scrollbars",
                           "--window-size=1024,768",
                           "--user-data-dir=" + profileTemplate,
                           "--remote-debugging-pipe"};
    if (::geteuid() == 0)
        args << "--no-sandbox"; // the sandbox refuses to run as root
    args << "about:blank";
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t pid =
        spawnInOwnGroup(argv.data(), childEnvironment.data(), toChild[0], fromChild[1]);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (pid <= 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        endBrowser(); // removes the profile folder
        return false;
    }
    pid_ = pid;
    reaped_ = false;
    toBrowser_ = toChild[1];
    fromBrowser_ = fromChild[0];
    ::fcntl(toBrowser_, F_SETFL, ::fcntl(toBrowser_, F_GETFL) | O_NONBLOCK);
    ::fcntl(fromBrowser_, F_SETFL, ::fcntl(fromBrowser_, F_GETFL) | O_NONBLOCK);
    freshBrowser_ = true;
    pipeBuffer_.clear();
    return true;
}

void PageRenderer::endBrowser() {
    if (pid_ > 0) {
        // The whole group: the browser's own helper processes go with it.
        ::kill(-pid_, SIGTERM);
        const QDeadlineTimer grace(3000);
        while (!reaped_) {
            int status = 0;
            const pid_t rc = ::waitpid(pid_, &status, WNOHANG);
            if (rc == pid_ || (rc < 0 && errno == ECHILD)) {
                reaped_ = true;
                break;
            }
            if (grace.hasExpired()) {
                ::kill(-pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                reaped_ = true;
                break;
            }
            QThread::msleep(10);
        }
        ::kill(-pid_, SIGKILL); // helpers that outlived the browser itself
        pid_ = 0;
    }
    closeFd(toBrowser_);
    closeFd(fromBrowser_);
    pipeBuffer_.clear();
    if (!profileDir_.isEmpty()) {
        QDir(profileDir_).removeRecursively();
        profileDir_.clear();
    }
    closeFd(profileLock_);
}

void PageRenderer::removeStaleProfiles() {
    const QDir temp(QDir::tempPath());
    const QStringList names = temp.entryList({QLatin1String(kProfilePrefix) + '*'},
                                             QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : names) {
        const QString folder = temp.filePath(name);
        const QFileInfo info(folder);
        if (info.isSymLink() || info.ownerId() != ::geteuid())
            continue;
        const QByteArray ownerPath = QFile::encodeName(folder + '/' + QLatin1String(kOwnerFile));
        const int lock = ::open(ownerPath.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        bool stale;
        if (lock < 0) {
            // Without its lock file the folder is either just being made or
            // was made before the lock existed: only an old one is stale.
            stale = info.lastModified().secsTo(QDateTime::currentDateTime()) > kProfileGraceSeconds;
        } else {
            stale = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
            ::close(lock);
        }
        if (stale)
            QDir(folder).removeRecursively();
    }
}

void PageRenderer::stop() {
    {
        // Wakes a capture in progress: its pipe reaches its end.
        QMutexLocker lock(&stateMutex_);
        if (pid_ > 0 && !reaped_)
            ::kill(-pid_, SIGTERM);
    }
    QMutexLocker captureLock(&captureMutex_);
    QMutexLocker lock(&stateMutex_);
    endBrowser();
}

void PageRenderer::shutDown() {
    shutDown_ = true;
    QMutexLocker lock(&stateMutex_);
    if (pid_ > 0 && !reaped_)
        ::kill(-pid_, SIGTERM);
}

bool PageRenderer::isRunning() const {
    QMutexLocker lock(&stateMutex_);
    if (pid_ <= 0 || reaped_)
        return false;
    // Looks without waiting for it: a browser that has exited but is not yet
    // reaped does not count as running.
    siginfo_t info{};
    return ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

pid_t PageRenderer::browserProcessId() const {
    QMutexLocker lock(&stateMutex_);
    return pid_;
}

bool PageRenderer::ensureRunning() {
    {
        QMutexLocker lock(&stateMutex_);
        if (pid_ > 0 && !reaped_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == 0)
                return true;
            reaped_ = true; // died since the last capture: start another below
        }
    }
    if (QThread::currentThread() == thread())
        return start();

    // A browser started from this (idle priority) thread would inherit its
    // scheduling: the owning thread starts it.
    auto done = std::make_shared<QSemaphore>();
    auto started = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        this,
        [this, done, started] {
            started->store(start());
            done->release();
        },
        Qt::QueuedConnection);
    return done->tryAcquire(1, kStartRequestMs) && started->load();
}

QImage PageRenderer::capture(const QString& url, bool* certificateFailed) {
    bool refused = false;
    QImage shot;
    {
        QMutexLocker captureLock(&captureMutex_);
        if (!shutDown_ && ensureRunning())
            shot = captureWithBrowser(url, &refused);
    }
    if (certificateFailed)
        *certificateFailed = refused;
    return shot.isNull() ? shot : scaleToThumbnail(shot);
}

bool PageRenderer::isCertificateError(const QString& errorText) {
    // net::ERR_CERT_... and net::ERR_CERTIFICATE_...
    return errorText.startsWith(QLatin1String("net::ERR_CERT"));
}

QImage PageRenderer::captureWithBrowser(const QString& url, bool* certificateFailed) {
    int toBrowser, fromBrowser, loadMs, commandMs;
    pid_t pid;
    bool fresh;
    {
        QMutexLocker lock(&stateMutex_);
        toBrowser = toBrowser_;
        fromBrowser = fromBrowser_;
        loadMs = loadTimeoutMs_;
        commandMs = commandTimeoutMs_;
        pid = pid_;
        fresh = freshBrowser_;
        freshBrowser_ = false;
    }
    if (toBrowser < 0 || fromBrowser < 0)
        return {};

    Session session(*this, toBrowser, fromBrowser);
    if (fresh) {
        // Pages are only looked at: a page that starts a download must not
        // leave files in the user's folders. The answer also shows that the
        // browser has started.
        const auto denied =
            session.call("Browser.setDownloadBehavior", {{"behavior", "deny"}}, {}, kStartUpMs);
        Q_UNUSED(denied);
    }
    QImage shot;
    bool healthy = false;
    const auto target = session.call("Target.createTarget", {{"url", "about:blank"}}, {},
                                     fresh ? kStartUpMs : commandMs);
    const QString targetId = target ? target->value("targetId").toString() : QString();
    if (!targetId.isEmpty()) {
        shot = captureInTab(session, targetId, url, loadMs, commandMs, certificateFailed);
        // A refused certificate is the page's fault, not the browser's.
        healthy = (!shot.isNull() || *certificateFailed) &&
                  session.call("Target.closeTarget", {{"targetId", targetId}}, {}, commandMs);
    }
    if (!healthy) {
        // Dead, stuck or confused: end it; the next capture starts another.
        QMutexLocker lock(&stateMutex_);
        if (pid_ == pid)
            endBrowser();
    }
    return shot;
}

QImage PageRenderer::captureInTab(Session& session, const QString& targetId, const QString& url,
                                  int loadMs, int commandMs, bool* certificateFailed) {
    const auto attached = session.call("Target.attachToTarget",
                                       {{"targetId", targetId}, {"flatten", true}}, {}, commandMs);
    const QString tab = attached ? attached->value("sessionId").toString() : QString();
    // The security events tell of certificates the browser refuses, also
    // on navigations the page starts itself; the refusal itself stays.
    if (tab.isEmpty() || !session.call("Page.enable", {}, tab, commandMs) ||
        !session.call("Security.enable", {}, tab, commandMs))
        return {};
    const QJsonObject metrics{{"width", kPageWidth},
                              {"height", kPageHeight},
                              {"deviceScaleFactor", 1},
                              {"mobile", false}};
    if (!session.call("Emulation.setDeviceMetricsOverride", metrics, tab, commandMs))
        return {};

    // A page that does not finish loading in time is captured as it stands.
    const QDeadlineTimer loadDeadline(loadMs);
    const int navigation = session.send("Page.navigate", {{"url", url}}, tab, loadDeadline);
    if (navigation == 0)
        return {};
    bool loaded = false;
    QSet<QString> refusedAddresses;
    session.waitFor(
        [&](const QJsonObject& message) {
            if (message.value("sessionId").toString() != tab)
                return false;
            if (message.value("id").toInt() == navigation) {
                // A download or cancelled navigation never loads a document.
                const QString error =
                    message.value("result").toObject().value("errorText").toString();
                // The browser would show its certificate warning instead of the page.
                *certificateFailed = isCertificateError(error);
                return *certificateFailed || error == QLatin1String("net::ERR_ABORTED");
            }
            const QString event = message.value("method").toString();
            if (event == QLatin1String("Page.javascriptDialogOpening")) {
                // An alert or confirm box would hold the page until answered.
                session.send("Page.handleJavaScriptDialog", {{"accept", true}}, tab, loadDeadline);
                return false;
            }
            const QJsonObject params = message.value("params").toObject();
            if (event == QLatin1String("Security.certificateError")) {
                refusedAddresses.insert(params.value("requestURL").toString());
                return false;
            }
            if (event == QLatin1String("Page.frameNavigated")) {
                // The page itself (not a frame inside it) now shows the
                // browser's own page for an address it refused.
                const QJsonObject frame = params.value("frame").toObject();
                *certificateFailed = !frame.contains("parentId") &&
                                     refusedAddresses.contains(frame.value("unreachableUrl").toString());
                return *certificateFailed;
            }
            loaded = event == QLatin1String("Page.loadEventFired");
            return loaded || event == QLatin1String("Inspector.targetCrashed") ||
                   event == QLatin1String("Inspector.detached");
        },
        loadDeadline);
    if (session.broken() || *certificateFailed)
        return {};
    if (!loaded)
        session.send("Page.stopLoading", {}, tab, QDeadlineTimer(commandMs));

    const auto shot = session.call("Page.captureScreenshot", {{"format", "png"}}, tab, commandMs);
    if (!shot)
        return {};
    const QByteArray png = QByteArray::fromBase64(shot->value("data").toString().toLatin1());
    return QImage::fromData(png, "PNG");
}

QImage PageRenderer::scaleToThumbnail(const QImage& capture) {
    if (capture.isNull())
        return {};
    return capture
        .scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace catalogue
