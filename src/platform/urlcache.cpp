#include "platform/urlcache.h"

#include "platform/browser_places.h"
#include "platform/paths.h"
#include "platform/sqlite_copy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

QString withoutFragment(const QString& address) {
    const qsizetype hash = address.indexOf('#');
    return hash < 0 ? address : address.left(hash);
}

QString userName() {
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        if (const passwd* entry = ::getpwuid(::getuid()))
            name = QString::fromLocal8Bit(entry->pw_name);
    return name;
}

} // namespace

QString UrlCache::visitedPrefix() {
    return QStringLiteral("Visited: ") + userName() + "@";
}

void UrlCache::add(UrlCacheEntry entry) {
    const qsizetype index = entries_.size();
    byName_.insert(entry.sourceUrlName, index);
    if (entry.history) {
        const qsizetype at = entry.sourceUrlName.indexOf('@');
        if (at >= 0)
            byVisitedAddress_.insert(entry.sourceUrlName.mid(at + 1), index);
    }
    entries_.append(std::move(entry));
}

bool UrlCache::addTextStore(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const QStringList fields = line.split('\t');
        if (fields.size() < 3)
            continue;
        bool hitsOk = false, bitOk = false;
        const int hits = fields[0].trimmed().toInt(&hitsOk);
        const qint64 bit = fields[1].trimmed().toLongLong(&bitOk);
        if (!hitsOk || !bitOk)
            continue;
        add({fields.mid(2).join('\t'), bit != 0, hits});
    }
    return true;
}

bool UrlCache::addSqlite(const QString& path, const char* query) {
    const SqliteCopy copy(path);
    if (!copy.isOpen())
        return false;
    sqlite3_stmt* statement = nullptr;
    bool ok = sqlite3_prepare_v2(copy.handle(), query, -1, &statement, nullptr) == SQLITE_OK;
    const QString prefix = visitedPrefix();
    while (ok && sqlite3_step(statement) == SQLITE_ROW) {
        const auto* url = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        if (!url)
            continue;
        add({prefix + QString::fromUtf8(url), true, sqlite3_column_int(statement, 1)});
    }
    sqlite3_finalize(statement);
    return ok;
}

bool UrlCache::addChromiumHistory(const QString& path) {
    return addSqlite(path, "SELECT url, visit_count FROM urls ORDER BY id");
}

bool UrlCache::addFirefoxHistory(const QString& path) {
    return addSqlite(path, "SELECT url, visit_count FROM moz_places ORDER BY id");
}

const UrlCacheEntry* UrlCache::find(const QString& sourceUrlName) const {
    const auto found = byName_.constFind(sourceUrlName);
    return found == byName_.constEnd() ? nullptr : &entries_[*found];
}

int UrlCache::hitCount(const QString& address) const {
    const QString key = withoutFragment(address);
    if (const UrlCacheEntry* entry = find(key))
        return entry->hitCount;
    const auto found = byVisitedAddress_.constFind(key);
    return found == byVisitedAddress_.constEnd() ? 0 : entries_[*found].hitCount;
}

UrlCache UrlCache::loadUser() {
    UrlCache cache;
    const QString store = programFolder() + "urlcache.txt";
    if (QFileInfo::exists(store))
        cache.addTextStore(store);
    for (const BrowserProfile& profile : findBrowserProfiles(BrowserFamily::Chromium).profiles)
        if (QFileInfo(profile.folder + "/History").isFile())
            cache.addChromiumHistory(profile.folder + "/History");
    for (const BrowserProfile& profile : findBrowserProfiles(BrowserFamily::Firefox).profiles)
        if (QFileInfo(profile.folder + "/places.sqlite").isFile())
            cache.addFirefoxHistory(profile.folder + "/places.sqlite");
    return cache;
}

} // namespace platform
