#pragma once
// The exception log: every exception raised anywhere in the program, caught
// later or not, is reported to one process-wide logger, which writes a dated
// entry (class, place, message, call stack) at the top of a text file beside
// the settings. Expected network failures are filtered out by two ignore
// lists. Logging changes nothing for the exception itself, and a log that
// cannot be written never stops it.
#include "app/exception_log_file.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <typeinfo>

namespace app {

// What is known about one raised exception.
struct ExceptionRecord {
    QString className;              // demangled type name
    std::optional<QString> message; // only for objects that carry a message
    const void* raiseAddress = nullptr;
    QStringList stack; // one line per frame, the raise point first (taken by notify)
};

// Where an exception is reported from: at its raise (the runtime's throw),
// or when it reaches the top-level handler of the event dispatch.
enum class ReportSource { Raise, TopLevel };

class ExceptionLogger {
public:
    // The file keeps its newest entries up to this size.
    static constexpr qint64 SizeLimit = 1024 * 1024;
    // A longer line of an entry (a huge message) is cut to this many
    // characters and its length.
    static constexpr int LoggedLineLimit = 4096;

    ExceptionLogger();
    ~ExceptionLogger();
    ExceptionLogger(const ExceptionLogger&) = delete;
    ExceptionLogger& operator=(const ExceptionLogger&) = delete;

    // Settings. Change them before start(), or while no exception can be raised.
    bool ExceptionLogging = true;
    bool StackTrackingEnable = true;
    bool UnhandledExceptionsOnly = false;
    bool CreateLogFile = true;
    bool AppendLogFile = true;
    QString LogFileName; // empty: the program folder's exception log
    QStringList IgnoretheseMessages;
    QStringList IgnoretheseExceptions;
    // Called with the composed entry before it is written.
    std::function<void(const QStringList&)> OnOtherDestination;

    // Makes this the process's logger, which the raise notices and the
    // top-level handler report to; stop() (and the destructor) ends that
    // and writes the entries still waiting.
    void start();
    void stop();

    bool isIgnored(const ExceptionRecord& record) const;
    QStringList composeEntry(const ExceptionRecord& record, const QDateTime& now) const;
    // Filters, composes, hands the entry to OnOtherDestination and queues
    // it for the file, which gets the entries of a burst in one write.
    void report(const ExceptionRecord& record);
    // Returns once the entries reported so far are written.
    void flush();
    // Puts the entry at the top of the file (or makes it the whole file),
    // two empty lines between it and the older entries, now. False, with the
    // reason, when the file could not be read or replaced; it is then unchanged.
    bool writeEntry(const QStringList& entry, QString* error = nullptr) const;
    QString logFilePath() const;

    // Reports to the started logger, if any, unless this thread is already
    // inside a report (an exception raised by the logging itself is not
    // logged). describe runs only when the report goes ahead; reports from
    // several threads are serialised. A top-level report is skipped when
    // the raise notices already logged the exception. Never throws.
    // (describe is a plain function with a context so that a notice
    // allocates nothing before the guard is in place.)
    static void notify(ReportSource source, ExceptionRecord (*describe)(const void* context),
                       const void* context) noexcept;
    static bool anyStarted();

    // The top-level handler's report of an exception that escaped: its
    // dynamic type and, for a std::exception, its message (else null).
    static void notifyEscaped(const std::type_info* type, const char* message) noexcept;

private:
    ExceptionLogWriter writer_;
};

// The place text of an entry: "at address " and the address in hexadecimal.
QString raisePlace(const void* address);

} // namespace app
