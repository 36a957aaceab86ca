#include "app/empty_favorites_offer.h"

#include "bookmarks/bookmarks.h"
#include "bookmarks/chromium_bookmarks.h"
#include "bookmarks/firefox_bookmarks.h"
#include "bookmarks/import_record.h"
#include "platform/message_service.h"
#include "platform/paths.h"

#include <QDirIterator>
#include <QFileInfo>

#include <cstdio>

namespace app {

namespace {

QString browserName(const QString& source) {
    return source == QLatin1String("firefox") ? QStringLiteral("Firefox")
                                              : QStringLiteral("Chromium");
}

QString browserNames(const QStringList& browsers) {
    QStringList names;
    for (const QString& browser : browsers)
        names << browserName(browser);
    return names.join(QStringLiteral(" and "));
}

QString importAndSummarise(const QStringList& browsers, const QString& favorites) {
    QStringList lines;
    for (const QString& browser : browsers) {
        const bookmarks::ImportResult result =
            bookmarks::importAndRecord(browser, favorites, bookmarks::importRecordPath());
        lines << result.skipped;
        if (result.ok || result.summary.imported > 0)
            lines << result.text();
        if (!result.ok)
            lines << browserName(browser) + QStringLiteral(": ") + result.error;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

bool favoritesEmpty(const QString& folder) {
    if (!QFileInfo(folder).isDir())
        return true;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (it.next().endsWith(QLatin1String(".url"), Qt::CaseInsensitive))
            return false;
    }
    return true;
}

QStringList browsersWithBookmarks() {
    QStringList browsers;
    if (!bookmarks::ChromiumBookmarkFiles().isEmpty())
        browsers << QStringLiteral("chromium");
    if (!bookmarks::FirefoxPlacesFiles().isEmpty())
        browsers << QStringLiteral("firefox");
    return browsers;
}

QString importHintText(const QString& favoritesFolder, const QStringList& browsers) {
    QString text =
        QStringLiteral("Your Favorites folder %1 has no favourites. ").arg(favoritesFolder);
    if (browsers.isEmpty())
        return text + QStringLiteral("To bring in bookmarks, export them from your browser as "
                                     "an HTML file and run: pagorama --import-bookmarks FILE");
    QStringList commands;
    for (const QString& browser : browsers)
        commands << QStringLiteral("pagorama --import-bookmarks ") + browser;
    return text + QStringLiteral("To bring in the bookmarks of %1, run: %2")
                      .arg(browserNames(browsers), commands.join(QStringLiteral(" ; ")));
}

void offerBookmarkImport(bool desktop) {
    const QString favorites = platform::favoritesFolder();
    if (!favoritesEmpty(favorites))
        return;
    const QStringList browsers = browsersWithBookmarks();
    if (!desktop || browsers.isEmpty()) {
        // Nothing waits for an answer without a display.
        const QByteArray line = importHintText(favorites, browsers).toUtf8();
        if (desktop)
            platform::showMessage(QString::fromUtf8(line));
        else
            std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
        return;
    }
    const QString question =
        QStringLiteral("Your Favorites folder has no favourites yet, so Pagorama has no pages to "
                       "show.\n\nBring in the bookmarks of %1 now? Each bookmark becomes a "
                       "favourite; your browser is not changed.")
            .arg(browserNames(browsers));
    if (!platform::askQuestion(question, QStringLiteral("Import Bookmarks")))
        return;
    platform::showMessage(importAndSummarise(browsers, favorites),
                          QStringLiteral("Import Bookmarks"));
}

} // namespace app
