#pragma once
// The texts of the server's own answers: content types, dates and the
// fixed answers for missing files and refused requests.
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

namespace webserver {

// Header lines every answer carries: no page of another site may show the
// pages in a frame, where a user's clicks could be turned into edits.
inline constexpr char kNoFramingHeaders[] =
    "X-Frame-Options: SAMEORIGIN\r\nContent-Security-Policy: frame-ancestors 'self'\r\n";

// Content type from the extension of a file name (case ignored).
QByteArray ContentTypeOf(const QString& fileName);
// The same for a name in bytes whose extension is ASCII.
QByteArray ContentTypeOfName(QByteArrayView fileName);

// "Mon, 06 Jan 2003 10:20:30" for a time given in any zone (converted to UTC).
QByteArray HttpDate(const QDateTime& time);

// Escapes & < > " ' for an HTML page.
QByteArray htmlEscape(const QByteArray& text);

// The whole 404 answer (header and body) for a request path.
QByteArray notFoundAnswer(const QByteArray& version, const QByteArray& path);

// A short answer for a refused request (400, 411, 413, ...), header and body;
// explanation, when given, is a sentence for the reader under the heading.
QByteArray statusAnswer(const QByteArray& version, int code, const QByteArray& reason,
                        const QByteArray& explanation = {});

// Header lines of a served file, blank line included. An invalid
// lastModified leaves out the Last-Modified line.
QByteArray fileAnswerHeader(const QByteArray& version, const QByteArray& contentType, qint64 length,
                            const QDateTime& lastModified);
// The same with the time of the last change in seconds since 1970 (UTC).
QByteArray fileAnswerHeader(const QByteArray& version, const QByteArray& contentType, qint64 length,
                            qint64 lastModifiedSecs);

} // namespace webserver
