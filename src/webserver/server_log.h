#pragma once
// The server log: a display of the most recent lines, which the
// configuration window shows, and an optional log file that collects the
// traffic of many runs, bounded in size (an older part kept as ".1").
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <functional>

namespace webserver {

class ServerLog : public QObject {
    Q_OBJECT
public:
    static constexpr int DisplayLimit = 201;
    // A longer line is logged as its first LineLimit characters and its
    // length, so a huge request path or posted body costs little to show.
    static constexpr int LineLimit = 8192;
    // What logText keeps of a value, leaving room for the words around it.
    static constexpr int ValueLimit = 4096;

    // An empty filePath means the program's server log file.
    explicit ServerLog(QObject* parent = nullptr, const QString& filePath = QString());
    ~ServerLog() override;

    // Adds a line (cut to LineLimit) to the display and, while the file is
    // open, to the file.
    void logLine(const QString& line);
    // Opens (appending) or creates the file; on failure the display says so.
    void openLogFile();
    // Writes the closing line and closes; throws std::runtime_error when the
    // file cannot be written or closed.
    void closeLogFile();
    bool isOpen() const { return open_; }
    // The check box: opens or closes and returns whether the file is open.
    bool setWriteToFile(bool on);
    // Empties the display; the file keeps every line.
    void clearDisplay();

    const QStringList& displayLines() const { return display_; }
    QString filePath() const;

    // Local time source, replaceable by tests.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };
    // clock() as "HH:mm:ss" for the request lines; worked out once a second
    // only, as the local time costs a look at the time zone each time.
    QString timeOfDay();

signals:
    // A line was added at the end; when the display was full, its first
    // line was dropped.
    void lineAdded(const QString& line);
    void displayCleared();

private:
    void addToDisplay(const QString& text);
    bool writeToFile(const QString& text, QString* error);
    QString stamp() const;
    static QString cut(const QString& text);

    QString filePath_;
    QFile file_;
    qint64 fileSize_ = 0; // kept, so no write asks the file system for it
    bool open_ = false;
    QStringList display_;
    qint64 timeOfDaySecond_ = -1;
    QString timeOfDay_;
};

// Bytes from a request (a path, a posted body) as log text: at most
// ServerLog::ValueLimit bytes of them are decoded, and a longer value ends in
// "... (N bytes)".
QString logText(const QByteArray& bytes);

} // namespace webserver
