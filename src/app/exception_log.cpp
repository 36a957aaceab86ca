#include "app/exception_log.h"

#include "app/throw_hook.h"
#include "platform/paths.h"

#include <QLocale>

#include <atomic>
#include <mutex>

namespace app {

namespace {

std::mutex reportLock; // the started logger, and one report at a time
std::atomic<ExceptionLogger*> startedLogger{nullptr};
thread_local bool reporting = false;

QByteArray joinLines(const QStringList& lines) {
    QByteArray text;
    for (const QString& line : lines)
        text += line.toUtf8() + "\r\n";
    return text;
}

QString cutLine(const QString& line) {
    if (line.size() <= ExceptionLogger::LoggedLineLimit)
        return line;
    qsizetype keep = ExceptionLogger::LoggedLineLimit;
    if (line[keep - 1].isHighSurrogate())
        --keep;
    return line.left(keep) + QStringLiteral("... (%1 characters)").arg(line.size());
}

struct Escaped {
    const std::type_info* type;
    const char* message;
    const void* place;
};

ExceptionRecord describeEscaped(const void* context) {
    const auto& escaped = *static_cast<const Escaped*>(context);
    ExceptionRecord record;
    record.className = escaped.type ? demangledName(escaped.type->name()) : QString();
    if (escaped.message)
        record.message = QString::fromUtf8(escaped.message);
    record.raiseAddress = escaped.place;
    return record;
}

} // namespace

ExceptionLogger::ExceptionLogger()
    : IgnoretheseMessages{QStringLiteral("[10061] Connection refused"),
                          QStringLiteral("[11001] Host not found"),
                          QStringLiteral("Operation timed out"), QString()},
      IgnoretheseExceptions{QStringLiteral("ESocketError"), QStringLiteral("ETimedOutError"),
                            QStringLiteral("ECanceledError")},
      // The writing thread's own exceptions are not logged.
      writer_(SizeLimit, [] { reporting = true; }) {}

ExceptionLogger::~ExceptionLogger() {
    stop();
}

void ExceptionLogger::start() {
    const std::lock_guard<std::mutex> guard(reportLock);
    startedLogger.store(this);
}

void ExceptionLogger::stop() {
    // Waits for a report in progress on another thread.
    {
        const std::lock_guard<std::mutex> guard(reportLock);
        ExceptionLogger* self = this;
        startedLogger.compare_exchange_strong(self, nullptr);
    }
    flush();
}

void ExceptionLogger::flush() {
    writer_.flush();
}

bool ExceptionLogger::anyStarted() {
    return startedLogger.load() != nullptr;
}

QString raisePlace(const void* address) {
    return QStringLiteral("at address ") +
           QString::number(reinterpret_cast<quintptr>(address), 16)
               .toUpper()
               .rightJustified(int(sizeof(void*) * 2), QLatin1Char('0'));
}

bool ExceptionLogger::isIgnored(const ExceptionRecord& record) const {
    if (record.message && IgnoretheseMessages.contains(*record.message))
        return true;
    return IgnoretheseExceptions.contains(record.className);
}

QStringList ExceptionLogger::composeEntry(const ExceptionRecord& record,
                                          const QDateTime& now) const {
    const QLocale locale = QLocale::system();
    QStringList entry;
    entry << locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                 locale.toString(now.time(), QLocale::LongFormat) + QStringLiteral(" Exception ") +
                 record.className + QStringLiteral(" occured ") + raisePlace(record.raiseAddress);
    if (record.message)
        entry << QStringLiteral("Message: ") + *record.message;
    if (StackTrackingEnable) {
        entry << QStringLiteral("Call stack: ");
        entry << record.stack;
    }
    for (QString& line : entry)
        line = cutLine(line);
    return entry;
}

QString ExceptionLogger::logFilePath() const {
    return LogFileName.isEmpty() ? platform::exceptionLogFilePath() : LogFileName;
}

bool ExceptionLogger::writeEntry(const QStringList& entry, QString* error) const {
    return prependEntries(logFilePath(), AppendLogFile, {joinLines(entry)}, SizeLimit, error);
}

void ExceptionLogger::report(const ExceptionRecord& record) {
    if (!ExceptionLogging || isIgnored(record))
        return;
    const QStringList entry = composeEntry(record, QDateTime::currentDateTime());
    if (OnOtherDestination) {
        try {
            OnOtherDestination(entry);
        } catch (...) {
            // The file still gets the entry.
        }
    }
    if (CreateLogFile) // a log that cannot be written changes nothing else
        writer_.add(logFilePath(), AppendLogFile, joinLines(entry));
}

void ExceptionLogger::notify(ReportSource source, ExceptionRecord (*describe)(const void*),
                             const void* context) noexcept {
    if (reporting)
        return;
    reporting = true;
    try {
        const std::lock_guard<std::mutex> guard(reportLock);
        ExceptionLogger* logger = startedLogger.load();
        // Raise notices log every exception unless only unhandled ones are
        // wanted; the top-level handler logs only what they did not.
        const bool wanted =
            logger && (source == ReportSource::Raise
                           ? !logger->UnhandledExceptionsOnly
                           : logger->UnhandledExceptionsOnly || !throwsInterposed());
        if (wanted) {
            ExceptionRecord record = describe(context);
            // Filtered before the stack is taken: ignored exceptions (a dead
            // site in every refresh run) cost little.
            if (logger->ExceptionLogging && !logger->isIgnored(record)) {
                if (logger->StackTrackingEnable)
                    record.stack = captureStack(record.raiseAddress);
                logger->report(record);
            }
        }
    } catch (...) {
        // The logger's own failure never replaces the exception being reported.
    }
    reporting = false;
}

__attribute__((noinline)) void ExceptionLogger::notifyEscaped(const std::type_info* type,
                                                              const char* message) noexcept {
    // The raise point is gone by now: the place is where it was caught.
    const Escaped escaped{type, message, __builtin_return_address(0)};
    notify(ReportSource::TopLevel, &describeEscaped, &escaped);
}

} // namespace app
