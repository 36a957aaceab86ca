#pragma once
// Mapping a request path onto a file of the document folder. The mapping
// never leaves the folder: the path is percent-decoded, "\" and "/" both
// separate folders, "." and ".." are resolved, and symbolic links must not
// lead outside. A refused path maps to nothing and is answered as missing.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace webserver {

// Replaces each "%" followed by two more bytes with the byte their hex digits
// give; a decoded byte is never decoded again. A "%" with fewer than two bytes
// after it, or with non-hex digits, stays as it is. "+" is unchanged.
QByteArray percentDecode(const QByteArray& text);

// The native file path for a request path, or nothing when the path would
// lead outside docDir or holds a NUL. A path ending in "/" names defaultDoc
// of that folder. canonicalDocDir, when given, is docDir with its symbolic
// links resolved (callers that map many paths compute it once).
std::optional<QString> mapDocument(const QString& docDir, const QString& defaultDoc,
                                   const QByteArray& path,
                                   const QString& canonicalDocDir = QString());

// The lexical part of mapDocument: decoding, separators and "..", without
// looking at the file system. Symbolic links are checked when the file is
// opened (openDocument).
std::optional<QString> mapDocumentPath(const QString& docDir, const QString& defaultDoc,
                                       const QByteArray& path);
// The same mapping in bytes: the part of the native path after docDir
// ("/a/b.htm", "/a/" for a folder, "" for docDir itself), so that
// mapDocumentPath gives docDir + QFile::decodeName(of it). defaultDocName
// is QFile::encodeName(defaultDoc).
std::optional<QByteArray> mapRequestPath(const QByteArray& defaultDocName, const QByteArray& path);

// An opened regular file of the document folder.
struct OpenedDocument {
    int fd = -1; // owned by the caller
    qint64 size = 0;
    qint64 modifiedSecs = 0; // last change, in seconds since 1970
    QDateTime modified() const { return QDateTime::fromSecsSinceEpoch(modifiedSecs, Qt::UTC); }
};
enum class OpenResult { Opened, Missing, NotAFile, Outside, Unreadable };
// Opens path for reading when it is a regular file whose real location
// (symbolic links followed) lies inside canonicalDocDir. With docDirFd, a
// descriptor of the document folder, and relativeStart, where path's part
// below that folder begins, the system opens that part without ever leaving
// the folder, which spares asking where the file really is; a path it will
// not open that way (a link to an absolute path, say) is checked as above.
OpenResult openDocument(const QString& path, const QString& canonicalDocDir, OpenedDocument* opened,
                        int docDirFd = -1, qsizetype relativeStart = -1);
// openDocument's first try alone: relative (no leading "/") opened below
// docDirFd by the system, which refuses whatever would lead outside. False
// when that is not a regular file opened that way; openDocument then gives
// the answer.
bool openDocumentBeneath(int docDirFd, const char* relative, OpenedDocument* opened);
// A descriptor of folder for openDocument, or -1.
int openDocumentFolder(const QString& folder);

// True when an existing path, symbolic links followed, lies inside docDir.
bool liesInside(const QString& docDir, const QString& path);

} // namespace webserver
