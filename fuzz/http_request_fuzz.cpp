// The request side of the web server: the bytes of a connection, cut into
// arrivals of varying size, go through the line splitter and the request
// parser as the connection feeds them, posted bodies included. The lines
// must also be those of the whole stream whatever the cuts.
#include "fuzz_input.h"
#include "webserver/http_request.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

using namespace webserver;

namespace {

// The input as arrivals: each operation byte (from the end) gives the size
// of the next arrival from the front, or a run of filler near the line limit
// so that over-long lines are reached without megabyte inputs.
std::vector<QByteArray> arrivals(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<QByteArray> out;
    qsizetype filler = 0;
    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        if (op >= 0xf8 && filler < 8 * RequestLineLimit) {
            out.emplace_back(RequestLineLimit - 4 + (op - 0xf8), 'x');
            filler += out.back().size();
        } else {
            const std::string bytes = in.ConsumeBytesAsString(op % 97 + 1);
            out.emplace_back(bytes.data(), qsizetype(bytes.size()));
        }
    }
    return out;
}

// The lines of the whole stream: every LF-ended line not over the limit,
// then what follows the last LF (nothing when that is over the limit).
std::vector<QByteArray> expectedLines(const std::vector<QByteArray>& parts, QByteArray* rest) {
    QByteArray all;
    for (const QByteArray& part : parts)
        all += part;
    std::vector<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype lf = all.indexOf('\n'); lf >= 0; lf = all.indexOf('\n', start)) {
        if (lf - start <= RequestLineLimit)
            lines.push_back(all.mid(start, lf + 1 - start));
        start = lf + 1;
    }
    *rest = all.size() - start <= RequestLineLimit ? all.mid(start) : QByteArray();
    return lines;
}

void checkSplitting(const std::vector<QByteArray>& parts) {
    QByteArray rest;
    const std::vector<QByteArray> expected = expectedLines(parts, &rest);
    LineSplitter splitter;
    size_t next = 0;
    QByteArrayView line;
    for (const QByteArray& part : parts) {
        splitter.append(part.constData(), part.size());
        while (splitter.nextLine(&line)) {
            FUZZ_CHECK(next < expected.size() && line.toByteArray() == expected[next]);
            ++next;
        }
    }
    FUZZ_CHECK(next == expected.size());
    FUZZ_CHECK(splitter.takeAll() == rest);
    FUZZ_CHECK(splitter.isEmpty());
}

void checkRequest(const HttpRequest& request) {
    FUZZ_CHECK(request.method == request.method.toUpper());
    FUZZ_CHECK(!request.path.contains('?') && !request.path.contains(' '));
    FUZZ_CHECK(request.version == "HTTP/1.0" || request.version == "HTTP/1.1");
    FUZZ_CHECK(request.hostLines <= request.headerLines.size());
    qint64 length = -1;
    switch (checkPostBody(request, &length)) {
    case BodyVerdict::Accept:
        FUZZ_CHECK(length > 0 && length <= PostBodyLimit);
        break;
    case BodyVerdict::Empty:
        FUZZ_CHECK(length == 0 && request.contentLengthValue == 0);
        break;
    default:
        FUZZ_CHECK(length == 0);
    }
}

// As the connection does: lines until a request is complete, then its body
// (if it may have one) taken raw, then the lines of the next request.
void serve(const std::vector<QByteArray>& parts) {
    LineSplitter input;
    RequestParser parser;
    qint64 bodyLeft = 0;
    // Takes up to bodyLeft bytes of the body from the front of bytes.
    auto takeBody = [&](QByteArray& bytes) {
        const qsizetype taken = qsizetype(std::min<qint64>(bodyLeft, bytes.size()));
        bytes.remove(0, taken);
        bodyLeft -= taken;
        if (bodyLeft == 0)
            parser.setState(csAwaitRequest);
    };
    QByteArrayView line;
    for (QByteArray part : parts) {
        if (bodyLeft > 0)
            takeBody(part);
        input.append(part.constData(), part.size());
        while (bodyLeft == 0 && input.nextLine(&line)) {
            FUZZ_CHECK(line.endsWith('\n') && line.size() <= RequestLineLimit + 1);
            const RequestParser::Outcome outcome = parser.takeLine(line);
            if (outcome == RequestParser::Outcome::TooLarge)
                return; // the connection is closed
            if (outcome != RequestParser::Outcome::Dispatch)
                continue;
            checkRequest(parser.request());
            qint64 length = 0;
            if (checkPostBody(parser.request(), &length) == BodyVerdict::Accept &&
                parser.request().method == "POST") {
                bodyLeft = length;
                takeBody(input.pending());
            } else {
                parser.setState(csAwaitRequest);
            }
        }
    }
    // A partial line pending at the end is the last line.
    if (bodyLeft == 0 && !input.isEmpty() &&
        parser.takeLine(input.takeAll()) == RequestParser::Outcome::Dispatch)
        checkRequest(parser.request());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<QByteArray> parts = arrivals(data, size);
    checkSplitting(parts);
    serve(parts);
    return 0;
}
