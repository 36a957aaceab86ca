#include "webserver/http_answer.h"

#include <QFileInfo>

#include <cstdio>

namespace webserver {

QByteArray ContentTypeOf(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    if (extension == "htm" || extension == "html")
        return "text/html";
    if (extension == "gif")
        return "image/gif";
    if (extension == "bmp")
        return "image/bmp";
    if (extension == "jpg" || extension == "jpeg")
        return "image/jpeg";
    if (extension == "txt")
        return "text/plain";
    return "application/binary";
}

QByteArray HttpDate(const QDateTime& time) {
    static const char days[] = "MonTueWedThuFriSatSun";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const QDateTime utc = time.toUTC();
    const QDate date = utc.date();
    const QTime clock = utc.time();
    const int weekday = date.dayOfWeek() - 1; // Monday first
    char text[40];
    std::snprintf(text, sizeof text, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", days + weekday * 3,
                  date.day(), months + (date.month() - 1) * 3, date.year(), clock.hour(),
                  clock.minute(), clock.second());
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
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray statusAnswer(const QByteArray& version, int code, const QByteArray& reason,
                        const QByteArray& explanation) {
    const QByteArray status = QByteArray::number(code) + ' ' + reason;
    const QByteArray text = explanation.isEmpty() ? QByteArray() : htmlEscape(explanation) + "<P>";
    const QByteArray body = "<HTML><HEAD><TITLE>" + status + "</TITLE></HEAD><BODY><H1>" + status +
                            "</H1>" + text + "</BODY></HTML>\r\n";
    return version + ' ' + status +
           "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

QByteArray fileAnswerHeader(const QByteArray& version, const QByteArray& contentType, qint64 length,
                            const QDateTime& lastModified) {
    QByteArray header = version + " 200 OK\r\nContent-Type: " + contentType +
                        "\r\nContent-Length: " + QByteArray::number(length) + "\r\n";
    if (lastModified.isValid())
        header += "Last-Modified: " + HttpDate(lastModified) + " GMT\r\n";
    return header + "\r\n";
}

} // namespace webserver
