#include "webserver/server_log.h"

#include "platform/paths.h"

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

void ServerLog::addToDisplay(const QString& text) {
    const bool dropped = display_.size() >= DisplayLimit;
    while (display_.size() >= DisplayLimit)
        display_.removeFirst();
    display_.append(text);
    if (dropped)
        emit displayChanged();
    emit lineAdded(text);
}

bool ServerLog::writeToFile(const QString& text, QString* error) {
    const QByteArray bytes = text.toUtf8() + "\r\n";
    if (file_.write(bytes) != bytes.size() || !file_.flush()) {
        *error = file_.errorString();
        file_.unsetError();
        return false;
    }
    return true;
}

void ServerLog::logLine(const QString& text) {
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
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) &&
        writeToFile(QStringLiteral("[%1 Log file opened.]").arg(stamp()), &error)) {
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
    emit displayChanged();
}

} // namespace webserver
