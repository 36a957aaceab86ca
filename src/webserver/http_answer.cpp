#include "webserver/http_answer.h"

#include <cstdio>

namespace webserver {

namespace {

// The extensions that have a type of their own, lower case.
QByteArray typeOfExtension(QByteArrayView extension) {
    // Shared texts: a served file's type costs no allocation.
    static const QByteArray html("text/html"), gif("image/gif"), bmp("image/bmp"),
        jpeg("image/jpeg"), text("text/plain"), binary("application/binary");
    if (extension == "htm" || extension == "html")
        return html;
    if (extension == "gif")
        return gif;
    if (extension == "bmp")
        return bmp;
    if (extension == "jpg" || extension == "jpeg")
        return jpeg;
    if (extension == "txt")
        return text;
    return binary;
}

} // namespace

QByteArray ContentTypeOf(const QString& fileName) {
    // Looked at in place: this runs for every file served.
    const QStringView path(fileName);
    const QStringView name = path.sliced(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringView extension = dot < 0 ? QStringView() : name.sliced(dot + 1);
    auto is = [&](const char* known) {
        return extension.compare(QLatin1StringView(known), Qt::CaseInsensitive) == 0;
    };
    if (is("htm") || is("html"))
        return "text/html";
    if (is("gif"))
        return "image/gif";
    if (is("bmp"))
        return "image/bmp";
    if (is("jpg") || is("jpeg"))
        return "image/jpeg";
    if (is("txt"))
        return "text/plain";
    return "application/binary";
}

QByteArray ContentTypeOfName(QByteArrayView fileName) {
    const QByteArrayView name = fileName.sliced(fileName.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArrayView extension = dot < 0 ? QByteArrayView() : name.sliced(dot + 1);
    // No known extension is longer than four letters.
    char lowered[8] = {};
    if (extension.size() > 4)
        return typeOfExtension({});
    for (qsizetype i = 0; i < extension.size(); ++i) {
        const char c = extension[i];
        lowered[i] = c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
    }
    return typeOfExtension(QByteArrayView(lowered, extension.size()));
}

namespace {

// Writes the date of an HTTP header for a UTC time into text (at least 40
// bytes); returns its length.
int httpDateText(const QDateTime& time, char* text) {
    static const char days[] = "MonTueWedThuFriSatSun";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const QDateTime utc = time.toUTC();
    const QDate date = utc.date();
    const QTime clock = utc.time();
    const int weekday = date.dayOfWeek() - 1; // Monday first
    return std::snprintf(text, 40, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", days + weekday * 3,
                         date.day(), months + (date.month() - 1) * 3, date.year(), clock.hour(),
                         clock.minute(), clock.second());
}

} // namespace

QByteArray HttpDate(const QDateTime& time) {
    char text[40];
    httpDateText(time, text);
    return QByteArray(text);
}

QByteArray htmlEscape(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray notFoundAnswer(const QByteArray& version, const QByteArray& path) {
    const QByteArray body = "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not "
                            "Found</H1>The requested URL " +
                            htmlEscape(path) +
                            " was not found on this server.<P></BODY></HTML>\r\n";
    return version + " 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n" + kNoFramingHeaders + "\r\n" + body;
}

QByteArray statusAnswer(const QByteArray& version, int code, const QByteArray& reason,
                        const QByteArray& explanation) {
    const QByteArray status = QByteArray::number(code) + ' ' + reason;
    const QByteArray text = explanation.isEmpty() ? QByteArray() : htmlEscape(explanation) + "<P>";
    const QByteArray body = "<HTML><HEAD><TITLE>" + status + "</TITLE></HEAD><BODY><H1>" + status +
                            "</H1>" + text + "</BODY></HTML>\r\n";
    return version + ' ' + status +
           "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n" + kNoFramingHeaders + "\r\n" + body;
}

namespace {

// The Last-Modified text of a time in seconds. Files served one after the
// other mostly share a few times of change, so the text of each is made
// once and kept.
QByteArrayView lastModifiedText(qint64 secs) {
    struct Made {
        qint64 secs = -1;
        int size = 0;
        char text[40] = {};
    };
    static thread_local Made made[8];
    Made& slot = made[quint64(secs) % 8];
    if (slot.secs != secs || slot.size == 0) {
        slot.size = httpDateText(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), slot.text);
        slot.secs = secs;
    }
    return QByteArrayView(slot.text, slot.size);
}

QByteArray fileHeader(const QByteArray& version, const QByteArray& contentType, qint64 length,
                      QByteArrayView lastModified) {
    // Built in one buffer: this runs for every file served.
    QByteArray header;
    header.reserve(version.size() + contentType.size() + 120 + sizeof kNoFramingHeaders);
    // The length's digits, written from the last one back.
    char number[24];
    char* const numberEnd = number + sizeof number;
    char* digits = numberEnd;
    quint64 rest = quint64(std::max<qint64>(length, 0));
    do {
        *--digits = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    header.append(version)
        .append(" 200 OK\r\nContent-Type: ")
        .append(contentType)
        .append("\r\nContent-Length: ")
        .append(digits, numberEnd - digits)
        .append("\r\n");
    if (!lastModified.isNull())
        header.append("Last-Modified: ").append(lastModified).append(" GMT\r\n");
    return header.append(kNoFramingHeaders).append("\r\n");
}

} // namespace

QByteArray fileAnswerHeader(const QByteArray& version, const QByteArray& contentType, qint64 length,
                            const QDateTime& lastModified) {
    char date[40];
    const int size = lastModified.isValid() ? httpDateText(lastModified, date) : 0;
    return fileHeader(version, contentType, length,
                      lastModified.isValid() ? QByteArrayView(date, size) : QByteArrayView());
}

QByteArray fileAnswerHeader(const QByteArray& version, const QByteArray& contentType, qint64 length,
                            qint64 lastModifiedSecs) {
    return fileHeader(version, contentType, length, lastModifiedText(lastModifiedSecs));
}

} // namespace webserver
