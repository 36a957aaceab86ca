#pragma once
// Headless Chromium driven over its DevTools pipe (commands on descriptor 3,
// answers on descriptor 4, each message ending in a NUL byte), for reading
// the live DOM of pages and frames.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace pagetest {

class HeadlessBrowser {
public:
    HeadlessBrowser() {
        std::signal(SIGPIPE, SIG_IGN);
        int commands[2], answers[2];
        if (::pipe(commands) != 0 || ::pipe(answers) != 0)
            return;
        const std::vector<std::string> args = {
            "/usr/bin/chromium",
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--no-first-run",
            "--window-size=1024,768",
            "--remote-debugging-pipe",
            "--user-data-dir=" + QDir(profile_.path()).absolutePath().toStdString(),
            "about:blank"};
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const int devNull = ::open("/dev/null", O_WRONLY);
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::dup2(commands[0], 3);
            ::dup2(answers[1], 4);
            ::dup2(devNull, 1);
            ::dup2(devNull, 2);
            for (int fd = 5; fd < 1024; ++fd)
                ::close(fd);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(devNull);
        ::close(commands[0]);
        ::close(answers[1]);
        toBrowser_ = commands[1];
        fromBrowser_ = answers[0];
    }

    ~HeadlessBrowser() {
        if (pid_ > 0) {
            call("Browser.close", {}, 5000, false);
            for (int i = 0; i < 50 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
                QThread::msleep(100);
            if (::waitpid(pid_, nullptr, WNOHANG) == 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        if (toBrowser_ >= 0)
            ::close(toBrowser_);
        if (fromBrowser_ >= 0)
            ::close(fromBrowser_);
    }

    // Opens a page in a new tab; later evaluations run in its top frame.
    bool open(const QString& url) {
        const QJsonObject target = call("Target.createTarget", {{"url", url}}, 30000, false);
        const QString targetId = target["result"].toObject()["targetId"].toString();
        if (targetId.isEmpty())
            return false;
        const QJsonObject attached = call(
            "Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, 30000, false);
        session_ = attached["result"].toObject()["sessionId"].toString();
        return !session_.isEmpty();
    }

    // The value of a JavaScript expression in the page (null on an exception).
    QJsonValue evaluate(const QString& expression) {
        const QJsonObject answer = call("Runtime.evaluate",
                                        {{"expression", "(function(){try{return (" + expression +
                                                            ");}catch(e){return null;}})()"},
                                         {"returnByValue", true}},
                                        30000, true);
        return answer["result"].toObject()["result"].toObject()["value"];
    }

    // Polls until the expression is true or the time is up.
    bool waitFor(const QString& expression, int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (evaluate(expression).toBool())
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    // A DevTools command to the opened page; the answer's "result" object
    // (empty on an error or time-out).
    QJsonObject command(const QString& method, const QJsonObject& params = {}) {
        return call(method, params, 30000, true)["result"].toObject();
    }

    // The page's window size in CSS pixels, as a desktop window of that size
    // with the given device pixels per CSS pixel.
    bool setWindowSize(int width, int height, double deviceScaleFactor = 1) {
        return !call("Emulation.setDeviceMetricsOverride",
                     {{"width", width},
                      {"height", height},
                      {"deviceScaleFactor", deviceScaleFactor},
                      {"mobile", false}},
                     30000, true)
                    .contains("error");
    }

    // "light" or "dark" as the system's colour preference.
    bool setColourScheme(const QString& scheme) {
        const QJsonObject feature{{"name", "prefers-color-scheme"}, {"value", scheme}};
        return !call("Emulation.setEmulatedMedia", {{"features", QJsonArray{feature}}}, 30000, true)
                    .contains("error");
    }

    // A PNG of what the page shows now; empty on failure.
    QByteArray screenshot() {
        return QByteArray::fromBase64(
            command("Page.captureScreenshot", {{"format", "png"}})["data"].toString().toLatin1());
    }

    // One key as the keyboard sends it to the focused element: key names
    // as in KeyboardEvent.key ("Enter", "/", "a").
    void pressKey(const QString& key) {
        QJsonObject down{{"type", "keyDown"}, {"key", key}};
        if (key == "Enter") {
            down["code"] = "Enter";
            down["windowsVirtualKeyCode"] = 13;
            down["text"] = "\r";
        } else if (key == "Escape") {
            down["code"] = "Escape";
            down["windowsVirtualKeyCode"] = 27;
        } else if (key == "Tab") {
            down["code"] = "Tab";
            down["windowsVirtualKeyCode"] = 9;
        } else if (key == "Backspace") {
            down["code"] = "Backspace";
            down["windowsVirtualKeyCode"] = 8;
        } else {
            down["text"] = key;
            if (key.size() == 1 && key[0].isLetterOrNumber())
                down["windowsVirtualKeyCode"] = int(key[0].toUpper().unicode());
        }
        call("Input.dispatchKeyEvent", down, 30000, true);
        call("Input.dispatchKeyEvent", {{"type", "keyUp"}, {"key", key}}, 30000, true);
    }

    void typeText(const QString& text) {
        for (const QChar c : text)
            pressKey(QString(c));
    }

private:
    QJsonObject call(const QString& method, const QJsonObject& params, int timeoutMs, bool inPage) {
        if (toBrowser_ < 0)
            return {};
        const int id = ++lastId_;
        QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
        if (inPage)
            message["sessionId"] = session_;
        QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
        bytes.append('\0');
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t n =
                ::write(toBrowser_, bytes.constData() + sent, size_t(bytes.size() - sent));
            if (n <= 0)
                return {};
            sent += n;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            qsizetype end;
            while ((end = pending_.indexOf('\0')) >= 0) {
                const QJsonObject answer = QJsonDocument::fromJson(pending_.left(end)).object();
                pending_.remove(0, end + 1);
                if (answer["id"].toInt() == id)
                    return answer;
            }
            pollfd fd{fromBrowser_, POLLIN, 0};
            if (::poll(&fd, 1, 200) <= 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fromBrowser_, buffer, sizeof buffer);
            if (n <= 0)
                return {};
            pending_.append(buffer, n);
        }
        return {};
    }

    QTemporaryDir profile_;
    pid_t pid_ = -1;
    int toBrowser_ = -1;
    int fromBrowser_ = -1;
    int lastId_ = 0;
    QString session_;
    QByteArray pending_;
};

} // namespace pagetest
