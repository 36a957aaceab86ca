#include "app/product_page.h"

#include "platform/file_replace.h"
#include "platform/paths.h"

#include <QDesktopServices>
#include <QFile>

namespace app {

QUrl productPageUrl() {
    QFile source(QStringLiteral(":/app/about.html"));
    if (!source.open(QIODevice::ReadOnly))
        return {};
    const QByteArray page = source.readAll();
    const QString path = platform::programFolder() + QStringLiteral("about.html");
    QFile current(path);
    const bool upToDate = current.open(QIODevice::ReadOnly) && current.readAll() == page;
    if (!upToDate && !platform::replaceFileWhole(path, page))
        return {};
    return QUrl::fromLocalFile(path);
}

bool openProductPage() {
    const QUrl url = productPageUrl();
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace app
