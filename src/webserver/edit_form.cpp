#include "webserver/edit_form.h"

#include "platform/hex_digit.h"
#include "platform/paths.h"
#include "webserver/document_path.h"
#include "webserver/http_answer.h"

#include <QUrl>

namespace webserver {

QString CutToUtf8Bytes(const QString& name, int maxBytes) {
    // One pass over the characters: a title may be megabytes long.
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        int width = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < name.size() &&
                          QChar::isLowSurrogate(name[i + 1].unicode());
        if (pair)
            width = 4;
        if (bytes + width > maxBytes)
            return name.left(i);
        bytes += width;
        if (pair)
            ++i;
    }
    return name;
}

FormKind FormKindOf(const QByteArray& path) {
    if (path.compare(EditFormPath, Qt::CaseInsensitive) == 0)
        return FormKind::Edit;
    if (path.compare(HistoryFormPath, Qt::CaseInsensitive) == 0)
        return FormKind::History;
    return FormKind::None;
}

int SplitFields(const QByteArray& text, char separator, QList<QByteArray>& list) {
    int added = 0;
    QByteArray current;
    for (const char c : text) {
        if (c == separator) {
            list.append(current);
            current.clear();
            ++added;
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty() || (!text.isEmpty() && text.endsWith(separator))) {
        list.append(current);
        ++added;
    }
    return added;
}

bool IsCarriedField(const QByteArray& field) {
    return field.startsWith("WasEdit") || field.startsWith("WasCombo") ||
           field.startsWith("WasOB") || field.startsWith("Top");
}

QByteArray DecodeFormValue(const QByteArray& text) {
    QByteArray plus = text;
    plus.replace('+', ' ');
    return percentDecode(plus);
}

QString FolderLocation(const QString& folder, const QString& favoritesFolder) {
    QString relative = folder.mid(favoritesFolder.size());
    while (relative.startsWith('/'))
        relative.remove(0, 1);
    while (relative.endsWith('/'))
        relative.chop(1);
    return platform::toBackslashForm(relative);
}

QString RelativeFolder(const QString& folder, const QString& favoritesFolder) {
    const QString location = FolderLocation(folder, favoritesFolder);
    return location.isEmpty() ? QStringLiteral("\\") : '\\' + location + '\\';
}

std::optional<qint64> ParseSortOrder(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const int digit = platform::hexDigitValue(text[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL)
            return std::nullopt;
    }
    return negative ? -value : value;
}

bool IsSafeName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == '/' || c == '\\' || c.unicode() < 32 || c.unicode() == 127)
            return false;
    }
    return true;
}

QString CleanFileName(const QString& title) {
    QString name;
    name.reserve(title.size());
    for (const QChar c : title) {
        if (c == '/' || c == '\\')
            name.append('-');
        else if (c.unicode() < 32 || c.unicode() == 127)
            name.append(' ');
        else
            name.append(c);
    }
    // A leading dot would hide the file, and a name of dots only would be
    // the folder itself or its parent; blanks between leading dots go too,
    // or trimming would bring the next dot to the front.
    name = name.simplified();
    while (name.startsWith('.') || name.startsWith(' '))
        name.remove(0, 1);
    name = CutToUtf8Bytes(name, MaxNameBytes).trimmed();
    return IsSafeName(name) ? name : QString();
}

QString SafeNameFromTitle(const QString& title, const QString& address) {
    const QString name = CleanFileName(title);
    if (!name.isEmpty())
        return name;
    QString host = QUrl(address).host();
    host = CutToUtf8Bytes(host, MaxNameBytes);
    if (IsSafeName(host) && !host.startsWith('.'))
        return host;
    return QStringLiteral("Favourite");
}

QByteArray FormRecord(const QDateTime& when, int count, const QString& peerAddr,
                      const QStringList& results) {
    QByteArray record = when.toString(QStringLiteral("yyyyMMdd HHmmss ")).toUtf8();
    record += "there were " + QByteArray::number(count) + " results from" + peerAddr.toUtf8() +
              "<br>Action taken : ";
    for (const QString& line : results)
        record += line.toUtf8() + "\r\n";
    return record;
}

QByteArray ResultsAnswer(const QByteArray& version, const QByteArray& record) {
    QByteArray page = "<HTML><HEAD><TITLE>Pagorama Reporter</TITLE></HEAD>\r\n"
                      "<BODY background=\"\\_back.jpg\"><H2>Your data has been recorded:</H2>\r\n"
                      "<P>";
    page += record;
    page += "</P><FORM><INPUT TYPE=\"button\" VALUE=\"Back to Pagorama\" "
            "onClick=\"history.go(-1)\"></FORM></BODY></HTML>\r\n";
    // Names outside ASCII arrive as UTF-8 and are shown as such.
    QByteArray answer = version +
                        " 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Length: " +
                        QByteArray::number(page.size()) + "\r\n" + kNoFramingHeaders + "\r\n";
    return answer + page;
}

} // namespace webserver
