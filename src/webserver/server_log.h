#pragma once
// The server log: a display of the most recent lines, which the
// configuration window shows, and an optional log file that collects the
// traffic of many runs, bounded in size (an older part kept as ".1").
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <functional>
#include <vector>

namespace webserver {

class ServerLog : public QObject {
    Q_OBJECT
public:
    static constexpr int DisplayLimit = 201;
    // A longer line is logged as its first LoggedLineLimit characters and its
    // length, so a huge request path or posted body costs little to show.
    static constexpr int LoggedLineLimit = 8192;
    // What logText keeps of a value, leaving room for the words around it.
    static constexpr int ValueLimit = 4096;

    // An empty filePath means the program's server log file.
    explicit ServerLog(QObject* parent = nullptr, const QString& filePath = QString());
    ~ServerLog() override;

    // Adds a line (cut to LoggedLineLimit) to the display and, while the file is
    // open, to the file.
    void logLine(const QString& line);
    // The line of a GET ("[time peer] number: GET path") or HEAD ("number:
    // HEAD path") request. While no file is open and nobody follows
    // lineAdded, only its parts are kept: the text is made when the display
    // is read, so a busy server that nobody watches spends nothing on it.
    enum class RequestKind : quint8 { Get, Head };
    void logRequest(RequestKind kind, int number, const QString& peer, const QByteArray& path);
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

    QStringList displayLines() const;
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
    // A display line, or the parts of a request line not yet made into text.
    struct Entry {
        QString text; // also the time of day of a request line
        QString peer;
        QByteArray path;
        int number = 0;
        bool isRequest = false;
        RequestKind kind = RequestKind::Get;
    };
    static QString requestLine(const Entry& entry);
    bool linesWanted() const;
    void addEntry(Entry&& entry);
    void addToDisplay(const QString& text);
    bool writeToFile(const QString& text, QString* error);
    QString stamp() const;
    static QString cut(const QString& text);

    QString filePath_;
    QFile file_;
    qint64 fileSize_ = 0; // kept, so no write asks the file system for it
    bool open_ = false;
    // The display's lines, oldest first from displayStart_, in a ring that
    // is made once and then only overwritten.
    std::vector<Entry> display_;
    size_t displayStart_ = 0;
    qint64 timeOfDaySecond_ = -1;
    QString timeOfDay_;
};

// Bytes from a request (a path, a posted body) as log text: at most
// ServerLog::ValueLimit bytes of them are decoded, and a longer value ends in
// "... (N bytes)".
QString logText(const QByteArray& bytes);

} // namespace webserver
