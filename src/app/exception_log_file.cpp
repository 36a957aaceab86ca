#include "app/exception_log_file.h"

#include "platform/file_replace.h"

#include <QFile>

namespace app {

namespace {

constexpr char EntrySeparator[] = "\r\n\r\n"; // two empty lines after an entry's last line

// The length of text's start that holds only whole entries and fits limit.
qsizetype wholeEntriesWithin(const QByteArray& text, qint64 limit) {
    if (text.size() <= limit)
        return text.size();
    // An entry ends at the CR LF before two empty lines.
    const qsizetype boundary = text.lastIndexOf("\r\n\r\n\r\n", limit - 2);
    if (boundary > 0)
        return boundary + 2;
    // One entry larger than the limit: keep its lines that fit.
    const qsizetype lineEnd = text.lastIndexOf("\r\n", limit - 2);
    return lineEnd > 0 ? lineEnd + 2 : 0;
}

} // namespace

bool prependEntries(const QString& path, bool append, const QList<QByteArray>& entries,
                    qint64 limit, QString* error) {
    if (entries.isEmpty())
        return true;
    QByteArray text;
    if (append) {
        for (qsizetype i = entries.size() - 1; i >= 0 && text.size() < limit; --i) {
            if (!text.isEmpty())
                text += EntrySeparator;
            text += entries[i];
        }
    } else {
        text = entries.last();
    }
    QFile old(path);
    if (append && text.size() < limit && old.exists()) {
        // An old log that cannot be read is left alone rather than replaced
        // by the new entries alone.
        if (!old.open(QIODevice::ReadOnly)) {
            if (error)
                *error = old.errorString();
            return false;
        }
        // Only the start of the old file can stay.
        text += EntrySeparator + old.read(limit - text.size() + 4);
    }
    text.truncate(wholeEntriesWithin(text, limit));
    return platform::replaceFileWhole(path, text, error);
}

ExceptionLogWriter::ExceptionLogWriter(qint64 sizeLimit, std::function<void()> threadStarted)
    : sizeLimit_(sizeLimit), threadStarted_(std::move(threadStarted)) {}

ExceptionLogWriter::~ExceptionLogWriter() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ExceptionLogWriter::add(const QString& path, bool append, QByteArray entry) {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        pendingBytes_ += entry.size();
        pending_.push_back(Pending{path, append, std::move(entry)});
        // Entries that the file could not keep anyway are not kept waiting.
        while (pendingBytes_ > 2 * sizeLimit_ && pending_.size() > 1) {
            pendingBytes_ -= pending_.front().entry.size();
            pending_.pop_front();
        }
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
}

void ExceptionLogWriter::flush() {
    std::unique_lock<std::mutex> guard(lock_);
    idle_.wait(guard, [this] { return pending_.empty() && !writing_; });
}

void ExceptionLogWriter::run() {
    if (threadStarted_)
        threadStarted_();
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return ending_ || !pending_.empty(); });
        if (pending_.empty())
            return; // ending, and nothing left to write
        // Everything that came while the last batch was written is one batch.
        std::deque<Pending> batch;
        batch.swap(pending_);
        pendingBytes_ = 0;
        writing_ = true;
        guard.unlock();
        write(batch);
        guard.lock();
        writing_ = false;
        if (pending_.empty())
            idle_.notify_all();
    }
}

void ExceptionLogWriter::write(std::deque<Pending>& batch) {
    // Consecutive entries for the same file and mode go in one rewrite.
    while (!batch.empty()) {
        const QString path = batch.front().path;
        const bool append = batch.front().append;
        QList<QByteArray> entries;
        while (!batch.empty() && batch.front().path == path && batch.front().append == append) {
            entries.append(std::move(batch.front().entry));
            batch.pop_front();
        }
        prependEntries(path, append, entries, sizeLimit_); // a failed write changes nothing else
    }
}

} // namespace app
