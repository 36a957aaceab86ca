#include "app/log_display.h"

#include "webserver/server_log.h"

#include <QEvent>
#include <QPlainTextEdit>

namespace app {

LogDisplay::LogDisplay(webserver::ServerLog& log, QPlainTextEdit& display)
    : QObject(&display), display_(display) {
    // The document itself drops its first line when a line beyond the
    // limit comes, without laying out the others again.
    display_.setMaximumBlockCount(webserver::ServerLog::DisplayLimit);
    timer_.setSingleShot(true);
    timer_.setInterval(UpdateIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &LogDisplay::flush);
    connect(&log, &webserver::ServerLog::lineAdded, this, &LogDisplay::add);
    connect(&log, &webserver::ServerLog::displayCleared, this, &LogDisplay::clear);
    display_.installEventFilter(this);
}

bool LogDisplay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &display_ && event->type() == QEvent::Show)
        flush();
    return false;
}

void LogDisplay::add(const QString& line) {
    // Lines that the display would drop at once are not kept waiting.
    if (pending_.size() >= webserver::ServerLog::DisplayLimit)
        pending_.removeFirst();
    pending_.append(line);
    // Lines for a display off screen (the window in the tray, or no
    // display at all) wait until it is shown.
    if (display_.isVisible() && !timer_.isActive())
        timer_.start();
}

void LogDisplay::flush() {
    timer_.stop();
    if (pending_.isEmpty())
        return;
    display_.appendPlainText(pending_.join(QLatin1Char('\n')));
    pending_.clear();
}

void LogDisplay::clear() {
    timer_.stop();
    pending_.clear();
    display_.clear();
}

} // namespace app
