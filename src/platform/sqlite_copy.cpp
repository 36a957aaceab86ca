#include "platform/sqlite_copy.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace platform {

namespace {

// The files SQLite keeps beside a database that hold part of its content.
const char* const CompanionSuffixes[] = {"-wal", "-journal"};

} // namespace

SqliteCopy::SqliteCopy(const QString& path) {
    if (!folder_.isValid() || !QFileInfo(path).isFile())
        return;
    const QString copy = folder_.filePath(QStringLiteral("copy.sqlite"));
    if (!QFile::copy(path, copy))
        return;
    // The companions are copied after the database: a checkpoint in between
    // leaves a log whose header no longer matches, which SQLite then skips,
    // so the copy is at worst as old as the database file alone.
    for (const char* suffix : CompanionSuffixes) {
        const QString companion = path + QLatin1String(suffix);
        if (QFileInfo(companion).isFile())
            QFile::copy(companion, copy + QLatin1String(suffix));
    }
    // Opened for writing: reading a write-ahead log or rolling back a hot
    // journal writes beside the copy, never beside the original.
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(copy).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK ||
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
            SQLITE_OK) {
        sqlite3_close(db);
        return;
    }
    db_ = db;
}

SqliteCopy::~SqliteCopy() {
    if (db_)
        sqlite3_close(db_);
}

} // namespace platform
