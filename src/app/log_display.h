#pragma once
// Shows the server log on the window's text display. Lines are gathered and
// added a few times a second at most while the display is on screen, and
// when it comes on screen; the oldest are dropped as new ones come, so a busy
// server costs the window the same per line however full the display is.
// The user may select and type in the display; nothing reads it back.
#include <QObject>
#include <QStringList>
#include <QTimer>

class QPlainTextEdit;

namespace webserver {
class ServerLog;
}

namespace app {

class LogDisplay : public QObject {
    Q_OBJECT
public:
    static constexpr int UpdateIntervalMs = 100;

    LogDisplay(webserver::ServerLog& log, QPlainTextEdit& display);

    // Adds the gathered lines now.
    void flush();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void add(const QString& line);
    void clear();

    QPlainTextEdit& display_;
    QStringList pending_;
    QTimer timer_;
};

} // namespace app
