#pragma once
// The request side of the HTTP server, as pure functions and a small line
// state machine: bytes in, request fields and a decision out. The connection
// object only moves bytes and acts on what these return.
#include <QByteArray>
#include <QList>
#include <cstdint>

namespace webserver {

// Request state of one connection.
enum THttpConnectionState { csAwaitRequest, csAwaitHeader, csProcessing };

// Limits of one request.
inline constexpr int RequestLineLimit = 65536;          // bytes of one line without LF
inline constexpr qint64 HeaderBytesLimit = 1024 * 1024; // request line and header lines
inline constexpr qint64 PostBodyLimit = 64LL * 1024 * 1024;

struct HttpRequest {
    QByteArray method;  // upper-cased
    QByteArray path;    // target before the first "?", not decoded
    QByteArray params;  // target after the first "?", not decoded
    QByteArray version; // upper-cased; "HTTP/1.0" when absent or not understood
    // False when the request line named a version other than HTTP/1.0 or
    // HTTP/1.1: the request is answered 400 and the text never echoed.
    bool versionValid = true;
    QList<QByteArray> headerLines;

    QByteArray contentType, accept, referer, acceptLanguage, acceptEncoding, userAgent, host,
        connection;
    int hostLines = 0; // Host header lines seen; more than one is refused
    // Content-Length as read by parseContentLength; 0 when absent, not a
    // number, or above the 32-bit range (a post of that size is refused).
    qint32 contentLength = 0;
    bool hasContentLength = false;
    // Every Content-Length line was a number and all gave the same value.
    bool contentLengthValid = true;
    qint64 contentLengthValue = 0; // meaningful when hasContentLength and valid

    qint64 headerBytes = 0; // bytes of the request line and header lines so far

    // Back to a request with no fields, as a new one. The texts keep their
    // room where nobody else holds them, so the next request of this
    // connection's record fills them without making new ones.
    void startOver();
};

// Fills method, path, params and version from a request line (LF and CR
// already removed). Only the space character separates tokens.
void parseRequestLine(QByteArrayView line, HttpRequest& request);

// Records one header line: recognised names fill their fields; every line,
// with or without ":", is appended to headerLines.
void applyHeaderLine(QByteArrayView line, HttpRequest& request);

// The one reading of a Content-Length value: decimal digits, with blanks
// around them allowed. A sign, blanks inside or any other byte make it no
// number (false). Values beyond 18 digits read as INT64_MAX, which every
// limit refuses.
bool parseContentLength(QByteArrayView text, qint64* value);

// The line state machine of one connection.
class RequestParser {
public:
    enum class Outcome {
        Continue, // more lines wanted
        Dispatch, // the blank line ended the header: the request is complete
        TooLarge, // the request's lines went over HeaderBytesLimit: close
        Ignored,  // the line arrived while processing and was thrown away
    };

    // Takes one line as received (with its LF, if any). Nothing of line is
    // held once this returns.
    Outcome takeLine(QByteArrayView line);

    THttpConnectionState state() const { return state_; }
    void setState(THttpConnectionState state) { state_ = state; }
    const HttpRequest& request() const { return request_; }
    HttpRequest& request() { return request_; }

private:
    THttpConnectionState state_ = csAwaitRequest;
    HttpRequest request_;
};

// Splits received bytes into lines as the connection delivers them: each line
// ends with its LF; a run of more than RequestLineLimit bytes without LF is dropped
// whole, up to and including its LF.
class LineSplitter {
public:
    // Appends received bytes.
    void append(const char* data, qsizetype size);
    // Takes the next complete line, or returns false. The line lies in the
    // pending bytes: it stays valid until this splitter is next used.
    bool nextLine(QByteArrayView* line);
    // Takes what is pending (a partial line at end of input, or raw data).
    QByteArray takeAll();
    // The pending bytes, for reading and taking raw data in place.
    QByteArray& pending();
    bool isEmpty() const { return buffer_.size() == taken_; }
    // Drops everything, keeping the room for the next client's bytes.
    void clear();

private:
    void dropTaken();

    QByteArray buffer_;
    // Bytes at the front of buffer_ already handed out as lines: they are
    // dropped once per append, not once per line.
    qsizetype taken_ = 0;
    qsizetype scanned_ = 0;     // bytes of buffer_ already known to hold no LF
                                // (never beyond buffer_'s size)
    bool skippingLong_ = false; // dropping the rest of an over-long line
};

// What to do with a posted body that a handler wants to accept.
enum class BodyVerdict { Accept, Empty, LengthRequired, BadRequest, TooLarge };
BodyVerdict checkPostBody(const HttpRequest& request, qint64* length);

} // namespace webserver
