#include "app/headless_view.h"

#include <cstdio>

namespace app {

void writeLineToStderr(const QString& text) {
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1String("\n\r"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s\n", flat.toUtf8().constData());
    std::fflush(stderr);
}

void HeadlessView::showStatusLine(const QString& text) {
    writeLineToStderr(text);
}

void HeadlessView::closeWindow() {
    if (close)
        close();
}

} // namespace app
