#pragma once
// The browser's URL cache: for every address the user's browsers remember,
// its source URL name, whether it is a history entry and its hit count.
// Sources: a plain text store (one entry per line, "hits<TAB>historybit<TAB>name")
// and read-only copies of the Chromium and Firefox history databases, whose
// addresses appear as history entries named "Visited: user@address".
#include <QHash>
#include <QList>
#include <QString>

namespace platform {

struct UrlCacheEntry {
    QString sourceUrlName;
    bool history = false;
    int hitCount = 0;
};

class UrlCache {
public:
    // The history entry bit of a cache entry type.
    static constexpr quint32 HistoryEntryBit = 2097152;

    // Adds the entries of a text store; false when the file cannot be read.
    // Lines that do not parse are skipped.
    bool addTextStore(const QString& path);
    // Adds the addresses of a Chromium ("urls") or Firefox ("moz_places")
    // history database. The file is copied first, with the recent changes
    // a running browser keeps beside it, and the copy read, so a browser
    // holding the file locked does not matter.
    bool addChromiumHistory(const QString& path);
    bool addFirefoxHistory(const QString& path);

    // Every entry, in the order the sources were added.
    const QList<UrlCacheEntry>& entries() const { return entries_; }

    // The entry with this source URL name, nullptr when there is none.
    const UrlCacheEntry* find(const QString& sourceUrlName) const;
    // The hit count the cache keeps for an address (taken without its
    // fragment): its own entry, else its "Visited: user@address" entry;
    // 0 when neither exists.
    int hitCount(const QString& address) const;

    // The user's cache: <program folder>/urlcache.txt when present, then the
    // history of every profile of the Chromium family, then of every Firefox
    // profile (platform/browser_places.h).
    static UrlCache loadUser();
    // "Visited: <user>@"
    static QString visitedPrefix();

private:
    bool addSqlite(const QString& path, const char* query);
    void add(UrlCacheEntry entry);

    QList<UrlCacheEntry> entries_;
    QHash<QString, qsizetype> byName_;
    QHash<QString, qsizetype> byVisitedAddress_;
};

} // namespace platform
