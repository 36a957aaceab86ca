#include "reference_tab.h"

#include <QDir>
#include <QJsonDocument>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

ReferenceTab::~ReferenceTab() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
        ::close(out_);
    if (in_ >= 0)
        ::close(in_);
    if (!profile_.isEmpty())
        QDir(QString::fromLocal8Bit(profile_)).removeRecursively();
}

bool ReferenceTab::start(const QString& browser) {
    profile_ = QFile::encodeName(QDir::tempPath()) + "/reference-tab-XXXXXX";
    if (!::mkdtemp(profile_.data()))
        return false;
    int toChild[2], fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
        return false;
    QList<QByteArray> args{browser.toLocal8Bit(),    "--headless",
                           "--disable-gpu",          "--disable-background-networking",
                           "--no-first-run",         "--hide-scrollbars",
                           "--window-size=1024,768", "--user-data-dir=" + profile_,
                           "--remote-debugging-pipe"};
    if (::geteuid() == 0)
        args << "--no-sandbox";
    args << "about:blank";
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        // Above 4 first, so neither lands on the other's number.
        const int read = ::fcntl(toChild[0], F_DUPFD, 10);
        const int write = ::fcntl(fromChild[1], F_DUPFD, 10);
        ::dup2(read, 3);
        ::dup2(write, 4);
        ::close_range(5, ~0U, 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    out_ = toChild[1];
    in_ = fromChild[0];
    ::signal(SIGPIPE, SIG_IGN);

    const QString target =
        waitFor(send("Target.createTarget", {{"url", "about:blank"}})).value("targetId").toString();
    session_ = waitFor(send("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}))
                   .value("sessionId")
                   .toString();
    waitFor(send("Page.enable"));
    waitFor(send("Emulation.setDeviceMetricsOverride",
                 {{"width", 1024}, {"height", 768}, {"deviceScaleFactor", 1}, {"mobile", false}}));
    return !session_.isEmpty();
}

QImage ReferenceTab::capture(const QString& url) {
    waitFor(send("Page.navigate", {{"url", url}}), QStringLiteral("Page.loadEventFired"));
    const QJsonObject clip{
        {"x", 0}, {"y", 0}, {"width", 1024}, {"height", 768}, {"scale", 122.0 / 1024}};
    const QJsonObject shot =
        waitFor(send("Page.captureScreenshot", {{"format", "png"}, {"clip", clip}}));
    return QImage::fromData(QByteArray::fromBase64(shot.value("data").toString().toLatin1()),
                            "PNG");
}

int ReferenceTab::send(const QString& method, const QJsonObject& params) {
    const int id = nextId_++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (!session_.isEmpty())
        message.insert("sessionId", session_);
    const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(out_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return 0;
        done += n;
    }
    return id;
}

// The result of command `id`; with an event named, waits for that event too.
QJsonObject ReferenceTab::waitFor(int id, const QString& event) {
    QJsonObject result;
    bool answered = id == 0, seen = event.isEmpty();
    char chunk[65536];
    while (!(answered && seen)) {
        qsizetype end;
        while ((end = buffer_.indexOf('\0')) >= 0) {
            const QJsonObject message = QJsonDocument::fromJson(buffer_.left(end)).object();
            buffer_.remove(0, end + 1);
            if (message.value("id").toInt() == id) {
                answered = true;
                result = message.value("result").toObject();
            } else if (!event.isEmpty() && message.value("method").toString() == event) {
                seen = true; // the previous page had loaded before this command was sent
            }
        }
        if (answered && seen)
            break;
        const ssize_t n = ::read(in_, chunk, sizeof chunk);
        if (n <= 0)
            return result;
        buffer_.append(chunk, n);
    }
    return result;
}
