#pragma once
// TLS for the probe's HTTP client over a socket it has already connected.
// The server's certificate chain is checked against the system's trusted
// certificates (OpenSSL's default places, which honour SSL_CERT_FILE and
// SSL_CERT_DIR) and must name the host (a DNS name, or an IP address for an
// address literal); names are sent for SNI. There is no way to go on without
// that check: a certificate that fails it ends the connection.
//
// The socket is non-blocking and stays owned by the caller. Every call does
// what it can without waiting and says what the socket must become ready for
// when it needs to be called again, so the caller keeps its own time-outs,
// cancel checks and event processing.
#include <QString>
#include <QtGlobal>

#include <memory>

namespace catalogue {

enum class TlsWait { None, Read, Write };

class TlsConnection {
public:
    // Lowest protocol version accepted.
    static constexpr const char* MinimumVersion = "TLSv1.2";

    // host as it appears in the address: a name, an IPv4 address or an IPv6
    // address in brackets. Throws HttpClientError when TLS cannot be set up.
    TlsConnection(int fd, const QString& host);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // One step of the handshake: None once it is complete. A certificate
    // that fails verification throws an HttpClientError of kind Certificate;
    // any other failure one of kind Other.
    TlsWait handshake();
    // Sends part of data; *written is how much (0 when it must wait).
    TlsWait write(const char* data, qsizetype size, qsizetype* written);
    // Receives up to size bytes; *got is how many. *ended turns true when
    // the peer has closed the connection.
    TlsWait read(char* data, qsizetype size, qsizetype* got, bool* ended);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace catalogue
