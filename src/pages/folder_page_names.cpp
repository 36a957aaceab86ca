#include "pages/folder_page_names.h"

#include <QSet>
#include <QStringView>

namespace pages {

namespace {

constexpr int maxStemBytes = 200;

QString asciiLower(const QString& text) {
    QString lower = text;
    for (QChar& c : lower)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    return lower;
}

int utf8Length(char32_t code) {
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

// The Location without backslashes, cut at whole characters.
QString folderStem(const QString& location) {
    QString joined = location;
    joined.remove(QLatin1Char('\\'));
    int bytes = 0;
    qsizetype end = 0;
    while (end < joined.size()) {
        qsizetype next = end + 1;
        char32_t code = joined[end].unicode();
        if (joined[end].isHighSurrogate() && next < joined.size() &&
            joined[next].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(joined[end], joined[next]);
            ++next;
        }
        bytes += utf8Length(code);
        if (bytes > maxStemBytes)
            break;
        end = next;
    }
    return joined.left(end);
}

} // namespace

const QStringList& fixedPageNames() {
    static const QStringList names = {"viewer.htm",      "view.htm",        "editor.htm",
                                      "edit.htm",        "view_header.htm", "view_footer.htm",
                                      "edit_header.htm", "edit_footer.htm", "reloader.htm",
                                      "history.htm",     "overview.htm"};
    return names;
}

std::vector<FolderPages> folderPageNames(const QStringList& locations) {
    QSet<QString> taken;
    for (const QString& name : fixedPageNames())
        taken.insert(name);

    std::vector<FolderPages> pages;
    pages.reserve(size_t(locations.size()));
    for (const QString& location : locations) {
        if (location.isEmpty()) {
            pages.push_back({location, "view.htm", "edit.htm"});
            continue;
        }
        const QString base = folderStem(location);
        QString stem = base;
        for (int n = 2; taken.contains(asciiLower(stem + ".htm")) ||
                        taken.contains(asciiLower("edit" + stem + ".htm"));
             ++n)
            stem = base + '~' + QString::number(n);
        taken.insert(asciiLower(stem + ".htm"));
        taken.insert(asciiLower("edit" + stem + ".htm"));
        pages.push_back({location, stem + ".htm", "edit" + stem + ".htm"});
    }
    return pages;
}

} // namespace pages
