#include "webserver/form_folders.h"

#include "platform/dir_enum.h"

#include <algorithm>

namespace webserver {

namespace {

QString key(const QString& folder) {
    return folder.endsWith('/') && folder.size() > 1 ? folder.chopped(1) : folder;
}

// The scan's order: by name without regard to case, ties by exact name.
bool before(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

} // namespace

FormFolders::Listing& FormFolders::listing(const QString& folder) {
    const QString path = key(folder);
    auto found = folders_.find(path);
    if (found != folders_.end())
        return found.value();
    Listing& made = folders_[path];
    for (const platform::DirEntry& entry : platform::listDirectory(path)) {
        made.entries.append({entry.name, entry.isDirectory});
        made.byLowerName[entry.name.toLower()].append(entry.name);
    }
    return made;
}

QString FormFolders::caseTwinOf(const QString& folder, const QString& name, const QString& self) {
    const Listing& found = listing(folder);
    for (const QString& other : found.byLowerName.value(name.toLower()))
        if (other != name && other != self)
            return other;
    return {};
}

QStringList FormFolders::shortcutsIn(const QString& folder) {
    QStringList names;
    for (const Entry& entry : listing(folder).entries)
        if (!entry.isDirectory && platform::matchesMask(entry.name, QStringLiteral("*.url")))
            names.append(entry.name);
    return names;
}

// Where name goes in a listing's entries, in scan order.
QList<FormFolders::Entry>::iterator FormFolders::placeOf(Listing& listing, const QString& name) {
    return std::lower_bound(listing.entries.begin(), listing.entries.end(), name,
                            [](const Entry& e, const QString& n) { return before(e.name, n); });
}

// A folder not listed yet is listed as it then is on disk.
void FormFolders::added(const QString& folder, const QString& name, bool isDirectory) {
    const auto found = folders_.find(key(folder));
    if (found == folders_.end())
        return;
    found->entries.insert(placeOf(*found, name), {name, isDirectory});
    found->byLowerName[name.toLower()].append(name);
}

void FormFolders::removed(const QString& folder, const QString& name) {
    const auto found = folders_.find(key(folder));
    if (found == folders_.end())
        return;
    const auto at = placeOf(*found, name);
    if (at != found->entries.end() && at->name == name)
        found->entries.erase(at);
    const QString lower = name.toLower();
    QStringList& twins = found->byLowerName[lower];
    twins.removeOne(name);
    if (twins.isEmpty())
        found->byLowerName.remove(lower);
}

} // namespace webserver
