#include "bookmarks/html_bookmarks.h"

#include "catalogue/html_text.h"

#include <QList>

#include <algorithm>

namespace bookmarks {

namespace {

const QByteArray Doctype = "<!DOCTYPE NETSCAPE-Bookmark-file-1>";

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// The position of needle (lower case) in text from `from` on, without regard
// to ASCII letter case; -1 when absent.
qsizetype findNoCase(const QByteArray& text, const char* needle, qsizetype from) {
    const qsizetype length = qsizetype(qstrlen(needle));
    const char first = needle[0];
    for (qsizetype i = from; i + length <= text.size(); ++i) {
        if (lower(text[i]) != first)
            continue;
        qsizetype k = 1;
        while (k < length && lower(text[i + k]) == needle[k])
            ++k;
        if (k == length)
            return i;
    }
    return -1;
}

struct Tag {
    QByteArray name; // lower case, with "/" first for an end tag
    QByteArray attributes;
    qsizetype end = 0; // just after ">"
};

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '!' || c == '-' || c == '_';
}

// The tag starting at text[at] == '<'; end 0 when it never closes.
Tag readTag(const QByteArray& text, qsizetype at) {
    Tag tag;
    qsizetype i = at + 1;
    while (i < text.size() && isNameChar(text[i]))
        tag.name.append(lower(text[i++]));
    // A quoted attribute value may hold ">".
    char quote = 0;
    const qsizetype attributesStart = i;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            tag.attributes = text.mid(attributesStart, i - attributesStart);
            tag.end = i + 1;
            return tag;
        }
    }
    return tag;
}

// The value of one attribute (name in lower case), undecoded.
QByteArray attribute(const QByteArray& attributes, const char* name) {
    qsizetype i = 0;
    const qsizetype n = attributes.size();
    while (i < n) {
        while (i < n && (attributes[i] == ' ' || attributes[i] == '\t' || attributes[i] == '\r' ||
                         attributes[i] == '\n'))
            ++i;
        QByteArray key;
        while (i < n && attributes[i] != '=' && attributes[i] != ' ' && attributes[i] != '\t' &&
               attributes[i] != '\r' && attributes[i] != '\n')
            key.append(lower(attributes[i++]));
        while (i < n && (attributes[i] == ' ' || attributes[i] == '\t'))
            ++i;
        QByteArray value;
        if (i < n && attributes[i] == '=') {
            ++i;
            while (i < n && (attributes[i] == ' ' || attributes[i] == '\t'))
                ++i;
            if (i < n && (attributes[i] == '"' || attributes[i] == '\'')) {
                const char quote = attributes[i++];
                const qsizetype close = attributes.indexOf(quote, i);
                const qsizetype stop = close < 0 ? n : close;
                value = attributes.mid(i, stop - i);
                i = stop + 1;
            } else {
                const qsizetype start = i;
                while (i < n && attributes[i] != ' ' && attributes[i] != '\t')
                    ++i;
                value = attributes.mid(start, i - start);
            }
        }
        if (key == name)
            return value;
        if (key.isEmpty() && value.isEmpty())
            ++i;
    }
    return {};
}

QString decoded(const QByteArray& html) {
    return QString::fromUtf8(catalogue::DecodeHtmlText(html));
}

// Reads the lists of a bookmarks file. A "<DL>" opens the folder of the
// "<H3>" before it; one without a heading opens no folder of its own.
class HtmlReader {
public:
    HtmlReader(const QByteArray& html, TreeBuilder& builder) : html_(html), builder_(builder) {}

    bool read(QString* error) {
        qsizetype i = 0;
        if (html_.startsWith("\xEF\xBB\xBF"))
            i = 3;
        while (i < html_.size() && QChar::isSpace(uchar(html_[i])))
            ++i;
        if (findNoCase(html_, "<!doctype netscape-bookmark-file-1>", i) != i) {
            *error = QStringLiteral("not a bookmarks HTML file (it does not start with %1)")
                         .arg(QString::fromLatin1(Doctype));
            return false;
        }
        while (true) {
            const qsizetype open = html_.indexOf('<', i);
            if (open < 0)
                break;
            if (html_.mid(open, 4) == "<!--") {
                const qsizetype close = html_.indexOf("-->", open + 4);
                if (close < 0)
                    return fail(error, open, "a comment that never ends");
                i = close + 3;
                continue;
            }
            const Tag tag = readTag(html_, open);
            if (tag.end == 0)
                return fail(error, open, "a tag that never ends");
            i = tag.end;
            if (tag.name == "h3") {
                QString name;
                if (!textUntil("</h3", &i, &name))
                    return fail(error, open, "a folder name without </H3>");
                openPendingAsEmpty();
                pending_ = name;
                hasPending_ = true;
            } else if (tag.name == "a") {
                QString name;
                if (!textUntil("</a", &i, &name))
                    return fail(error, open, "a bookmark without </A>");
                openPendingAsEmpty();
                if (lists_.isEmpty())
                    return fail(error, open, "a bookmark outside every list");
                // ADD_DATE counts seconds since 1970.
                const qint64 added = attribute(tag.attributes, "add_date").trimmed().toLongLong();
                builder_.addBookmark(name, decoded(attribute(tag.attributes, "href")),
                                     added > 0 && added < (1LL << 42) ? added * 1000 : 0);
            } else if (tag.name == "dl") {
                const bool opensFolder = hasPending_ && !lists_.isEmpty();
                if (opensFolder)
                    builder_.openFolder(pending_);
                hasPending_ = false;
                seenList_ = true;
                lists_.append(opensFolder);
            } else if (tag.name == "/dl") {
                openPendingAsEmpty();
                if (lists_.isEmpty())
                    return fail(error, open, "a </DL> without its <DL>");
                if (lists_.takeLast())
                    builder_.closeFolder();
            }
        }
        openPendingAsEmpty();
        if (!lists_.isEmpty() || !seenList_) {
            *error = seenList_ ? QStringLiteral("the file ends inside a folder (is it cut short?)")
                               : QStringLiteral("the file holds no list of bookmarks");
            return false;
        }
        return true;
    }

private:
    bool fail(QString* error, qsizetype at, const char* what) {
        *error =
            QStringLiteral("broken bookmarks file: %1 at byte %2").arg(QLatin1String(what)).arg(at);
        return false;
    }

    // The text from *at up to the end tag, its tags left out; *at moves past it.
    bool textUntil(const char* endTag, qsizetype* at, QString* text) {
        const qsizetype end = findNoCase(html_, endTag, *at);
        if (end < 0)
            return false;
        // The name is cut long before it could cost memory.
        const qsizetype kept = std::min<qsizetype>(end - *at, 4 * MaxKeptNameLength);
        *text = decoded(html_.mid(*at, kept)).trimmed();
        const qsizetype close = html_.indexOf('>', end);
        *at = close < 0 ? html_.size() : close + 1;
        return true;
    }

    // A heading that no list followed is an empty folder.
    void openPendingAsEmpty() {
        if (!hasPending_)
            return;
        hasPending_ = false;
        if (lists_.isEmpty())
            return;
        builder_.openFolder(pending_);
        builder_.closeFolder();
    }

    const QByteArray& html_;
    TreeBuilder& builder_;
    QList<bool> lists_; // per open <DL>: whether it opened a folder
    QString pending_;
    bool hasPending_ = false;
    bool seenList_ = false;
};

} // namespace

bool ReadHtmlBookmarks(const QByteArray& html, TreeBuilder& builder, QString* error) {
    return HtmlReader(html, builder).read(error);
}

} // namespace bookmarks
