#pragma once
// A private copy of another program's SQLite database (a browser's history
// or bookmarks), taken while that program may be running. A database in
// write-ahead-log mode keeps its most recent changes in a "-wal" file beside
// it until the next checkpoint, and a database in rollback mode may have a
// hot "-journal"; both are copied with the database, so the copy opens as
// the browser itself sees it. The copy lives in a temporary folder of its
// own and goes with this object.
#include <QString>
#include <QTemporaryDir>

struct sqlite3;

namespace platform {

class SqliteCopy {
public:
    // Copies the database at path and opens the copy; isOpen() tells
    // whether that worked (a missing or unreadable file, or one that is no
    // database, leaves it closed).
    explicit SqliteCopy(const QString& path);
    ~SqliteCopy();
    SqliteCopy(const SqliteCopy&) = delete;
    SqliteCopy& operator=(const SqliteCopy&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    sqlite3* handle() const { return db_; }

private:
    QTemporaryDir folder_;
    sqlite3* db_ = nullptr;
};

} // namespace platform
