#include "webserver/http_request.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace webserver {

namespace {

// Sets text to bytes, in its own room when that is large enough and nobody
// else holds it: a connection's record parses request after request.
void setBytes(QByteArray& text, QByteArrayView bytes) {
    if (!text.isDetached() || text.capacity() < bytes.size()) {
        text = bytes.toByteArray();
        return;
    }
    text.resize(bytes.size());
    if (!bytes.isEmpty())
        std::memcpy(text.data(), bytes.data(), size_t(bytes.size()));
}

// Empties text, keeping its room when nobody else holds it.
void empty(QByteArray& text) {
    if (text.isDetached())
        text.resize(0);
    else
        text.clear();
}

// Next space-separated token starting at *at; advances *at past it.
QByteArrayView nextToken(QByteArrayView line, qsizetype* at) {
    while (*at < line.size() && line[*at] == ' ')
        ++*at;
    const qsizetype start = *at;
    while (*at < line.size() && line[*at] != ' ')
        ++*at;
    return line.sliced(start, *at - start);
}

// The usual methods and versions as shared texts: most requests need no
// copy of their own for them. Null when text is none of them.
QByteArray knownWord(QByteArrayView text) {
    static const QByteArray words[] = {"GET", "HEAD", "POST", "HTTP/1.0", "HTTP/1.1"};
    for (const QByteArray& word : words)
        if (text.size() == word.size() &&
            qstrnicmp(text.data(), word.constData(), text.size()) == 0)
            return word;
    return {};
}

// The header names the request keeps a field for: the field that takes the
// value (none for Content-Length, which is read as a number).
struct KnownHeader {
    const char* name;
    qsizetype size;
    QByteArray HttpRequest::*field;
};

const KnownHeader* knownHeader(QByteArrayView name) {
    static const KnownHeader known[] = {{"Host", 4, &HttpRequest::host},
                                        {"Accept", 6, &HttpRequest::accept},
                                        {"Referer", 7, &HttpRequest::referer},
                                        {"Connection", 10, &HttpRequest::connection},
                                        {"User-Agent", 10, &HttpRequest::userAgent},
                                        {"Content-Type", 12, &HttpRequest::contentType},
                                        {"Content-Length", 14, nullptr},
                                        {"Accept-Language", 15, &HttpRequest::acceptLanguage},
                                        {"Accept-Encoding", 15, &HttpRequest::acceptEncoding}};
    for (const KnownHeader& header : known)
        if (header.size == name.size() && qstrnicmp(name.data(), header.name, header.size) == 0)
            return &header;
    return nullptr;
}

void applyContentLength(QByteArrayView value, HttpRequest& request) {
    qint64 number = 0;
    if (!parseContentLength(value, &number)) {
        request.contentLengthValid = false;
    } else {
        // Two lines that disagree leave the length unknown.
        if (request.hasContentLength && number != request.contentLengthValue)
            request.contentLengthValid = false;
        request.contentLengthValue = number;
        if (number <= std::numeric_limits<qint32>::max())
            request.contentLength = qint32(number);
    }
    request.hasContentLength = true;
}

} // namespace

void HttpRequest::startOver() {
    method.clear(); // the usual ones are shared texts
    empty(path);
    empty(params);
    version.clear();
    versionValid = true;
    headerLines.resize(0);
    for (QByteArray* text : {&contentType, &accept, &referer, &acceptLanguage, &acceptEncoding,
                             &userAgent, &host, &connection})
        empty(*text);
    hostLines = 0;
    contentLength = 0;
    hasContentLength = false;
    contentLengthValid = true;
    contentLengthValue = 0;
    headerBytes = 0;
}

void parseRequestLine(QByteArrayView line, HttpRequest& request) {
    qsizetype at = line.indexOf(' ');
    if (at < 0)
        at = line.size();
    request.method = knownWord(line.first(at));
    if (request.method.isNull())
        request.method = line.first(at).toByteArray().toUpper();
    const QByteArrayView target = nextToken(line, &at);
    const qsizetype question = target.indexOf('?');
    if (question >= 0) {
        setBytes(request.path, target.first(question));
        setBytes(request.params, target.sliced(question + 1));
    } else {
        setBytes(request.path, target);
        empty(request.params);
    }
    const QByteArrayView versionText = nextToken(line, &at);
    const QByteArray known = knownWord(versionText);
    request.version = known.isNull() ? versionText.toByteArray().toUpper().trimmed() : known;
    request.versionValid = true;
    if (request.version.isEmpty()) {
        request.version = "HTTP/1.0";
    } else if (request.version != "HTTP/1.0" && request.version != "HTTP/1.1") {
        // Whatever else came there (control characters included) must not
        // reach the status line of the answer.
        request.version = "HTTP/1.0";
        request.versionValid = false;
    }
}

bool parseContentLength(QByteArrayView text, qint64* value) {
    const QByteArrayView digits = text.trimmed();
    if (digits.isEmpty())
        return false;
    qint64 result = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        if (result > (std::numeric_limits<qint64>::max() - 9) / 10)
            result = std::numeric_limits<qint64>::max();
        else
            result = result * 10 + (c - '0');
    }
    *value = result;
    return true;
}

void applyHeaderLine(QByteArrayView line, HttpRequest& request) {
    const qsizetype colon = line.indexOf(':');
    const KnownHeader* header = colon > 0 ? knownHeader(line.first(colon)) : nullptr;
    if (header) {
        // The text after the ":" and the spaces that follow it; trailing
        // spaces stay.
        qsizetype at = colon + 1;
        while (at < line.size() && line[at] == ' ')
            ++at;
        const QByteArrayView value = line.sliced(at);
        if (header->field)
            setBytes(request.*(header->field), value);
        else
            applyContentLength(value, request);
        if (header->field == &HttpRequest::host)
            ++request.hostLines;
    }
    request.headerLines.append(line.toByteArray());
}

RequestParser::Outcome RequestParser::takeLine(QByteArrayView line) {
    if (state_ == csProcessing)
        return Outcome::Ignored;
    request_.headerBytes += line.size();
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (state_ == csAwaitRequest) {
        const qint64 carried = request_.headerBytes;
        request_.startOver();
        request_.headerBytes = carried;
        parseRequestLine(line, request_);
        state_ = csAwaitHeader;
    } else if (line.isEmpty()) {
        state_ = csProcessing;
        request_.headerBytes = 0;
        return Outcome::Dispatch;
    } else {
        applyHeaderLine(line, request_);
    }
    if (request_.headerBytes > HeaderBytesLimit)
        return Outcome::TooLarge;
    return Outcome::Continue;
}

void LineSplitter::dropTaken() {
    if (taken_ == 0)
        return;
    if (taken_ == buffer_.size())
        buffer_.resize(0);
    else
        buffer_.remove(0, taken_);
    scanned_ = std::max<qsizetype>(scanned_ - taken_, 0);
    taken_ = 0;
}

QByteArray& LineSplitter::pending() {
    dropTaken();
    return buffer_;
}

void LineSplitter::append(const char* data, qsizetype size) {
    dropTaken();
    // Bytes of buffer_ after its last LF: the start of the line being received.
    qsizetype lineStart = buffer_.lastIndexOf('\n') + 1;
    while (size > 0) {
        const char* lf = static_cast<const char*>(memchr(data, '\n', size_t(size)));
        const qsizetype take = lf ? lf - data + 1 : size;
        if (skippingLong_) {
            skippingLong_ = !lf;
        } else if (buffer_.size() - lineStart + (lf ? take - 1 : take) > RequestLineLimit) {
            // Too long: drop what was kept of it and the rest up to its LF.
            // The scan position must not point past what is left, or the
            // next line's LF would be looked for beyond it.
            buffer_.truncate(lineStart);
            scanned_ = std::min(scanned_, lineStart);
            skippingLong_ = !lf;
        } else {
            buffer_.append(data, take);
            if (lf)
                lineStart = buffer_.size();
        }
        data += take;
        size -= take;
    }
}

bool LineSplitter::nextLine(QByteArrayView* line) {
    if (taken_ > 0 && taken_ == buffer_.size()) {
        // All handed out: the room is kept for the next bytes.
        buffer_.resize(0);
        taken_ = scanned_ = 0;
    }
    const qsizetype lf = buffer_.indexOf('\n', std::max(scanned_, taken_));
    if (lf < 0) {
        scanned_ = buffer_.size();
        return false;
    }
    *line = QByteArrayView(buffer_).sliced(taken_, lf + 1 - taken_);
    taken_ = lf + 1;
    scanned_ = taken_;
    return true;
}

void LineSplitter::clear() {
    if (buffer_.isDetached())
        buffer_.resize(0);
    else
        buffer_.clear();
    taken_ = scanned_ = 0;
    skippingLong_ = false;
}

QByteArray LineSplitter::takeAll() {
    dropTaken();
    QByteArray all;
    all.swap(buffer_);
    scanned_ = 0;
    return all;
}

BodyVerdict checkPostBody(const HttpRequest& request, qint64* length) {
    *length = 0;
    if (!request.hasContentLength)
        return BodyVerdict::LengthRequired;
    if (!request.contentLengthValid)
        return BodyVerdict::BadRequest;
    const qint64 value = request.contentLengthValue;
    if (value > PostBodyLimit)
        return BodyVerdict::TooLarge;
    *length = value;
    return value == 0 ? BodyVerdict::Empty : BodyVerdict::Accept;
}

} // namespace webserver
