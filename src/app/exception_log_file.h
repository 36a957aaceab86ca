#pragma once
// The exception log's file: newest entry on top, two empty lines between
// entries, at most a fixed number of bytes (the newest whole entries). The
// entries of one burst of exceptions are written together by a thread of
// their own, so a burst costs one rewrite of the file, not one per entry,
// and the thread that raised them never waits for the disk.
#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace app {

// Puts entries (oldest first, each its lines ending in CR LF) at the top of
// the file, the newest first. In append mode the old entries follow, else
// the newest entry is the whole file. What lies beyond limit bytes is cut
// off after the last whole entry that fits. False, with the reason, when
// the old file cannot be read or the file not replaced; it is then unchanged.
bool prependEntries(const QString& path, bool append, const QList<QByteArray>& entries,
                    qint64 limit, QString* error = nullptr);

class ExceptionLogWriter {
public:
    // threadStarted runs first on the writing thread.
    ExceptionLogWriter(qint64 sizeLimit, std::function<void()> threadStarted);
    // Writes what is still waiting, then ends the thread.
    ~ExceptionLogWriter();
    ExceptionLogWriter(const ExceptionLogWriter&) = delete;
    ExceptionLogWriter& operator=(const ExceptionLogWriter&) = delete;

    // Queues one entry for the file at path; never waits for the disk.
    void add(const QString& path, bool append, QByteArray entry);
    // Returns once every entry added before is written (or its write failed).
    void flush();

private:
    struct Pending {
        QString path;
        bool append = true;
        QByteArray entry;
    };
    void run();
    void write(std::deque<Pending>& batch);

    const qint64 sizeLimit_;
    std::function<void()> threadStarted_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Pending> pending_;
    qint64 pendingBytes_ = 0;
    bool writing_ = false;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace app
