#include "webserver/http_request.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace webserver {

namespace {

bool startsWithNoCase(const QByteArray& line, const char* name) {
    const qsizetype length = qsizetype(qstrlen(name));
    return line.size() >= length && qstrnicmp(line.constData(), name, length) == 0;
}

// The text after the first ":" and the spaces that follow it; trailing spaces stay.
QByteArray headerValue(const QByteArray& line) {
    qsizetype at = line.indexOf(':') + 1;
    while (at < line.size() && line[at] == ' ')
        ++at;
    return line.mid(at);
}

// Next space-separated token starting at *at; advances *at past it.
QByteArray nextToken(const QByteArray& line, qsizetype* at) {
    while (*at < line.size() && line[*at] == ' ')
        ++*at;
    const qsizetype start = *at;
    while (*at < line.size() && line[*at] != ' ')
        ++*at;
    return line.mid(start, *at - start);
}

// The usual methods and versions as shared texts: most requests need no
// copy of their own for them. Null when text is none of them.
QByteArray knownWord(QByteArrayView text) {
    static const QByteArray words[] = {"GET", "HEAD", "POST", "HTTP/1.0", "HTTP/1.1"};
    for (const QByteArray& word : words)
        if (text.size() == word.size() && qstrnicmp(text.data(), word.constData(), text.size()) == 0)
            return word;
    return {};
}

} // namespace

void parseRequestLine(const QByteArray& line, HttpRequest& request) {
    qsizetype at = line.indexOf(' ');
    if (at < 0)
        at = line.size();
    request.method = knownWord(QByteArrayView(line).first(at));
    if (request.method.isNull())
        request.method = line.left(at).toUpper();
    const QByteArray target = nextToken(line, &at);
    const qsizetype question = target.indexOf('?');
    if (question >= 0) {
        request.path = target.left(question);
        request.params = target.mid(question + 1);
    } else {
        request.path = target;
        request.params.clear();
    }
    request.version = nextToken(line, &at);
    const QByteArray known = knownWord(request.version);
    request.version = known.isNull() ? request.version.toUpper().trimmed() : known;
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

bool parseContentLength(const QByteArray& text, qint64* value) {
    const QByteArray digits = text.trimmed();
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

void applyHeaderLine(const QByteArray& line, HttpRequest& request) {
    if (line.contains(':')) {
        const QByteArray value = headerValue(line);
        if (startsWithNoCase(line, "content-type:")) {
            request.contentType = value;
        } else if (startsWithNoCase(line, "content-length:")) {
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
        } else if (startsWithNoCase(line, "Accept:")) {
            request.accept = value;
        } else if (startsWithNoCase(line, "Referer:")) {
            request.referer = value;
        } else if (startsWithNoCase(line, "Accept-Language:")) {
            request.acceptLanguage = value;
        } else if (startsWithNoCase(line, "Accept-Encoding:")) {
            request.acceptEncoding = value;
        } else if (startsWithNoCase(line, "User-Agent:")) {
            request.userAgent = value;
        } else if (startsWithNoCase(line, "Host:")) {
            request.host = value;
            ++request.hostLines;
        } else if (startsWithNoCase(line, "Connection:")) {
            request.connection = value;
        }
    }
    request.headerLines.append(line);
}

RequestParser::Outcome RequestParser::takeLine(QByteArray line) {
    if (state_ == csProcessing)
        return Outcome::Ignored;
    request_.headerBytes += line.size();
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (state_ == csAwaitRequest) {
        const qint64 carried = request_.headerBytes;
        request_ = HttpRequest();
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
        } else if (buffer_.size() - lineStart + (lf ? take - 1 : take) > LineLimit) {
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

bool LineSplitter::nextLine(QByteArray* line) {
    const qsizetype lf = buffer_.indexOf('\n', std::max(scanned_, taken_));
    if (lf < 0) {
        scanned_ = buffer_.size();
        return false;
    }
    *line = buffer_.sliced(taken_, lf + 1 - taken_);
    taken_ = lf + 1;
    scanned_ = taken_;
    if (taken_ == buffer_.size()) {
        // All handed out: the room is kept for the next bytes.
        buffer_.resize(0);
        taken_ = scanned_ = 0;
    }
    return true;
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
