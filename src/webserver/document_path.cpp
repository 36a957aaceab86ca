#include "webserver/document_path.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

namespace webserver {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

QByteArray percentDecode(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size()) {
            const int high = hexValue(text[at + 1]);
            const int low = hexValue(text[at + 2]);
            if (high >= 0 && low >= 0) {
                out += char(high * 16 + low);
                at += 2;
                continue;
            }
        }
        out += text[at];
    }
    return out;
}

namespace {

bool canonicalInside(const QString& root, const QString& target) {
    if (root.isEmpty() || target.isEmpty())
        return false;
    return target == root || target.startsWith(root.endsWith('/') ? root : root + '/');
}

} // namespace

std::optional<QString> mapDocument(const QString& docDir, const QString& defaultDoc,
                                   const QByteArray& path, const QString& canonicalDocDir) {
    QByteArray relative = path;
    if (relative.endsWith('/'))
        relative += QFile::encodeName(defaultDoc);
    relative = percentDecode(relative);
    if (relative.contains('\0'))
        return std::nullopt;
    relative.replace('\\', '/');

    QList<QByteArray> kept;
    for (const QByteArray& segment : relative.split('/')) {
        if (segment.isEmpty() || segment == ".")
            continue;
        if (segment == "..") {
            if (kept.isEmpty())
                return std::nullopt;
            kept.removeLast();
            continue;
        }
        kept.append(segment);
    }
    QString document = docDir;
    for (const QByteArray& segment : kept)
        document += '/' + QFile::decodeName(segment);
    // A path that ended in a separator names a folder; keep that visible so
    // it is never taken for a file.
    if (relative.endsWith('/') && !kept.isEmpty())
        document += '/';
    // Symbolic links may lead anywhere; what exists must resolve inside.
    const QString target = QFileInfo(document).canonicalFilePath();
    if (!target.isEmpty()) {
        const QString root =
            canonicalDocDir.isEmpty() ? QFileInfo(docDir).canonicalFilePath() : canonicalDocDir;
        if (!canonicalInside(root, target))
            return std::nullopt;
    }
    return document;
}

bool liesInside(const QString& docDir, const QString& path) {
    return canonicalInside(QFileInfo(docDir).canonicalFilePath(),
                           QFileInfo(path).canonicalFilePath());
}

} // namespace webserver
