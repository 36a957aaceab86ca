#include "catalogue/tls_connection.h"

#include "catalogue/site_http_client.h"

#include <QByteArray>
#include <QHostAddress>
#include <QUrl>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <pthread.h>

#include <cstdlib>

namespace catalogue {

namespace {

QString lastOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("connection closed during the TLS handshake");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

[[noreturn]] void failWith(const QString& message) {
    throw HttpClientError(HttpErrorKind::Other, QStringLiteral("TLS error: ") + message);
}

// The trusted certificates are read once for each value of the variables
// that choose them, so a changed SSL_CERT_FILE takes effect for the next
// connection while the usual case reads the system's store only once.
class ContextCache {
public:
    std::shared_ptr<SSL_CTX> get() {
        const QByteArray key = QByteArray(std::getenv("SSL_CERT_FILE")) + '\n' +
                               QByteArray(std::getenv("SSL_CERT_DIR"));
        std::lock_guard<std::mutex> lock(mutex_);
        if (!context_ || key != key_) {
            context_ = make();
            key_ = key;
        }
        return context_;
    }

private:
    static std::shared_ptr<SSL_CTX> make() {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        if (!context)
            failWith(lastOpenSslError());
        std::shared_ptr<SSL_CTX> owned(context, SSL_CTX_free);
        if (SSL_CTX_set_default_verify_paths(context) != 1)
            failWith(QStringLiteral("the trusted certificates cannot be read: ") +
                     lastOpenSslError());
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        // Many servers close without a closing message: the stream ends there,
        // as it does for a plain connection.
        SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(context,
                         SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        return owned;
    }

    std::mutex mutex_;
    QByteArray key_;
    std::shared_ptr<SSL_CTX> context_;
};

ContextCache& contexts() {
    static ContextCache cache;
    return cache;
}

// A peer that has gone away makes a write raise SIGPIPE, which would end
// the program: it is held back for this thread while OpenSSL writes and a
// pending one is taken back.
class PipeSignalHeld {
public:
    PipeSignalHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~PipeSignalHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{0, 0};
            sigtimedwait(&pipe_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

private:
    sigset_t pipe_, previous_;
};

} // namespace

struct TlsConnection::State {
    std::shared_ptr<SSL_CTX> context;
    SSL* ssl = nullptr;
    ~State() {
        if (ssl)
            SSL_free(ssl);
    }

    // What an unfinished call waits for; throws for a failure.
    TlsWait waitFor(int result, bool handshaking) {
        const int error = SSL_get_error(ssl, result);
        switch (error) {
        case SSL_ERROR_WANT_READ:
            return TlsWait::Read;
        case SSL_ERROR_WANT_WRITE:
            return TlsWait::Write;
        default:
            break;
        }
        if (handshaking) {
            const long verified = SSL_get_verify_result(ssl);
            if (verified != X509_V_OK) {
                ERR_clear_error();
                throw HttpClientError(
                    HttpErrorKind::Certificate,
                    QStringLiteral("Certificate error: ") +
                        QString::fromLatin1(X509_verify_cert_error_string(verified)));
            }
        }
        if (error == SSL_ERROR_SYSCALL && errno != 0 && ERR_peek_error() == 0)
            throw ESocketError(QStringLiteral("Winsock error no %1").arg(errno));
        failWith(lastOpenSslError());
    }
};

TlsConnection::TlsConnection(int fd, const QString& host) : state_(std::make_unique<State>()) {
    ERR_clear_error();
    state_->context = contexts().get();
    state_->ssl = SSL_new(state_->context.get());
    if (!state_->ssl || SSL_set_fd(state_->ssl, fd) != 1)
        failWith(lastOpenSslError());

    QString name = host;
    if (name.startsWith('[') && name.endsWith(']'))
        name = name.mid(1, name.size() - 2);
    X509_VERIFY_PARAM* check = SSL_get0_param(state_->ssl);
    QHostAddress literal;
    if (literal.setAddress(name)) {
        // An address is matched against the certificate's IP entries, and
        // is never sent as a server name.
        if (X509_VERIFY_PARAM_set1_ip_asc(check, name.toLatin1().constData()) != 1)
            failWith(QStringLiteral("cannot check the address %1").arg(name));
    } else {
        // Names go out in their ASCII form, without a final dot.
        QByteArray ascii = QUrl::toAce(name);
        if (ascii.endsWith('.'))
            ascii.chop(1);
        if (ascii.isEmpty())
            failWith(QStringLiteral("no host name"));
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(state_->ssl, ascii.constData()) != 1 ||
            SSL_set_tlsext_host_name(state_->ssl, ascii.constData()) != 1)
            failWith(QStringLiteral("cannot check the name %1").arg(name));
    }
    SSL_set_connect_state(state_->ssl);
}

TlsConnection::~TlsConnection() = default;

TlsWait TlsConnection::handshake() {
    const PipeSignalHeld held;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_do_handshake(state_->ssl);
    if (result == 1) {
        // The handshake only completes with a verified chain; this holds
        // even should the verification mode ever be changed.
        if (SSL_get_verify_result(state_->ssl) != X509_V_OK ||
            !SSL_get0_peer_certificate(state_->ssl))
            throw HttpClientError(HttpErrorKind::Certificate,
                                  QStringLiteral("Certificate error: not verified"));
        return TlsWait::None;
    }
    return state_->waitFor(result, true);
}

TlsWait TlsConnection::write(const char* data, qsizetype size, qsizetype* written) {
    const PipeSignalHeld held;
    ERR_clear_error();
    errno = 0;
    size_t done = 0;
    *written = 0;
    if (SSL_write_ex(state_->ssl, data, size_t(size), &done) == 1) {
        *written = qsizetype(done);
        return TlsWait::None;
    }
    return state_->waitFor(0, false);
}

TlsWait TlsConnection::read(char* data, qsizetype size, qsizetype* got, bool* ended) {
    const PipeSignalHeld held;
    ERR_clear_error();
    errno = 0;
    size_t done = 0;
    *got = 0;
    *ended = false;
    if (SSL_read_ex(state_->ssl, data, size_t(size), &done) == 1) {
        *got = qsizetype(done);
        return TlsWait::None;
    }
    const int error = SSL_get_error(state_->ssl, 0);
    if (error == SSL_ERROR_ZERO_RETURN ||
        (error == SSL_ERROR_SYSCALL && (errno == 0 || errno == ECONNRESET))) {
        *ended = true;
        return TlsWait::None;
    }
    return state_->waitFor(0, false);
}

} // namespace catalogue
