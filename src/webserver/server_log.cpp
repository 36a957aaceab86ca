#include "webserver/server_log.h"

#include "platform/appended_file.h"
#include "platform/paths.h"

#include <QMetaMethod>

#include <stdexcept>

namespace webserver {

ServerLog::ServerLog(QObject* parent, const QString& filePath)
    : QObject(parent), filePath_(filePath) {}

ServerLog::~ServerLog() {
    if (open_)
        file_.close();
}

QString ServerLog::filePath() const {
    return filePath_.isEmpty() ? platform::serverLogFilePath() : filePath_;
}

QString ServerLog::stamp() const {
    return clock().toString(QStringLiteral("HH:mm:ss yyyy/MM/dd"));
}

QString ServerLog::timeOfDay() {
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != timeOfDaySecond_) {
        timeOfDaySecond_ = second;
        timeOfDay_ = clock().toString(QStringLiteral("HH:mm:ss"));
    }
    return timeOfDay_;
}

QString ServerLog::cut(const QString& text) {
    if (text.size() <= LoggedLineLimit)
        return text;
    qsizetype keep = LoggedLineLimit;
    if (text[keep - 1].isHighSurrogate())
        --keep;
    return text.left(keep) + QStringLiteral("... (%1 characters)").arg(text.size());
}

QString logText(const QByteArray& bytes) {
    if (bytes.size() <= ServerLog::ValueLimit)
        return QString::fromUtf8(bytes);
    // End before a character whose bytes would be cut apart.
    qsizetype end = ServerLog::ValueLimit;
    for (int step = 0; step < 3 && end > 0 && (uchar(bytes[end]) & 0xC0) == 0x80; ++step)
        --end;
    return QString::fromUtf8(bytes.constData(), end) +
           QStringLiteral("... (%1 bytes)").arg(bytes.size());
}

void ServerLog::addEntry(Entry&& entry) {
    // Dropping the first line and adding one costs the same whatever the
    // display holds.
    if (display_.size() < size_t(DisplayLimit)) {
        display_.push_back(std::move(entry));
        return;
    }
    display_[displayStart_] = std::move(entry);
    displayStart_ = (displayStart_ + 1) % display_.size();
}

void ServerLog::addToDisplay(const QString& text) {
    Entry entry;
    entry.text = text;
    addEntry(std::move(entry));
    // A view follows with lineAdded alone.
    emit lineAdded(text);
}

bool ServerLog::linesWanted() const {
    static const QMetaMethod added = QMetaMethod::fromSignal(&ServerLog::lineAdded);
    return open_ || isSignalConnected(added);
}

QString ServerLog::requestLine(const Entry& entry) {
    if (entry.kind == RequestKind::Head)
        return cut(QStringLiteral("%1: HEAD %2").arg(entry.number).arg(logText(entry.path)));
    return cut(QStringLiteral("[%1 %2] %3: GET %4")
                   .arg(entry.text, entry.peer)
                   .arg(entry.number)
                   .arg(logText(entry.path)));
}

void ServerLog::logRequest(RequestKind kind, int number, const QString& peer,
                           const QByteArray& path) {
    Entry entry;
    entry.isRequest = true;
    entry.kind = kind;
    entry.number = number;
    entry.path = path;
    if (kind == RequestKind::Get) {
        entry.text = timeOfDay();
        entry.peer = peer;
    }
    if (linesWanted())
        logLine(requestLine(entry));
    else
        addEntry(std::move(entry));
}

QStringList ServerLog::displayLines() const {
    QStringList lines;
    lines.reserve(qsizetype(display_.size()));
    for (size_t i = 0; i < display_.size(); ++i) {
        const Entry& entry = display_[(displayStart_ + i) % display_.size()];
        lines.append(entry.isRequest ? requestLine(entry) : entry.text);
    }
    return lines;
}

bool ServerLog::writeToFile(const QString& text, QString* error) {
    const QByteArray bytes = text.toUtf8() + "\r\n";
    if (platform::moveAsideIfFull(file_.fileName(), fileSize_, bytes.size())) {
        file_.close();
        fileSize_ = 0;
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            *error = file_.errorString();
            return false;
        }
    }
    if (file_.write(bytes) != bytes.size() || !file_.flush()) {
        *error = file_.errorString();
        file_.unsetError();
        return false;
    }
    fileSize_ += bytes.size();
    return true;
}

void ServerLog::logLine(const QString& line) {
    const QString text = cut(line);
    addToDisplay(text);
    if (!open_)
        return;
    QString error;
    if (!writeToFile(text, &error))
        addToDisplay(QStringLiteral("*** Exception%1: %2 writing to log file ***")
                         .arg(QStringLiteral("WriteError"), error));
}

void ServerLog::openLogFile() {
    if (open_)
        return;
    file_.setFileName(filePath());
    QString error;
    const bool opened =
        file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    fileSize_ = opened ? file_.size() : 0;
    if (opened && writeToFile(QStringLiteral("[%1 Log file opened.]").arg(stamp()), &error)) {
        open_ = true;
        return;
    }
    file_.close();
    logLine(QStringLiteral("*** Unable to open log file ***"));
}

void ServerLog::closeLogFile() {
    if (!open_)
        return;
    open_ = false;
    QString error;
    const bool written = writeToFile(QStringLiteral("[%1 Log file Closed.]").arg(stamp()), &error);
    file_.close();
    if (!written)
        throw std::runtime_error(("Closing the log file: " + error).toStdString());
}

bool ServerLog::setWriteToFile(bool on) {
    if (on)
        openLogFile();
    else
        closeLogFile();
    return open_;
}

void ServerLog::clearDisplay() {
    display_.clear();
    displayStart_ = 0;
    emit displayCleared();
}

} // namespace webserver
