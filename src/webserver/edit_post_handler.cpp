#include "webserver/edit_post_handler.h"

#include "platform/appended_file.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "webserver/edit_origin_check.h"
#include "webserver/http_connection.h"
#include "webserver/http_server.h"

#include <QBuffer>
#include <QFile>

namespace webserver {

namespace {

// Above this size the body is logged once, when complete, instead of at
// every arrival (the log line repeats the whole body so far).
constexpr qint64 LogEveryArrivalLimit = 64 * 1024;
// More fields than an editor page of a large folder posts; beyond it the
// form is refused before any of it is applied.
constexpr qsizetype MaxFields = 10000;

QByteArray untilZero(const QByteArray& bytes) {
    const qsizetype zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

} // namespace

bool ProcessEditForm(FormKind kind, const QByteArray& body, const QString& peerAddr,
                     EditActions& actions, QByteArray* record, QString* error) {
    QList<QByteArray> fields;
    int count = 0;
    if (kind == FormKind::Edit) {
        SplitFields(body, '&', fields);
        actions.ApplyEditFields(fields);
        // What the page carries besides its edit fields is neither a result
        // nor one of the form's values.
        fields.removeIf(IsCarriedField);
        count = int(fields.size());
    } else if (kind == FormKind::History) {
        const qsizetype equals = body.indexOf('=');
        if (equals >= 1) {
            actions.AddFavouriteFromHistory(body.left(equals));
            count = 1;
        }
    }
    *record = FormRecord(QDateTime::currentDateTime(), count, peerAddr, actions.ActionResults());

    QByteArray values;
    for (const QByteArray& field : fields)
        values += field + "\r\n";
    if (!platform::replaceFileWhole(platform::formRecordsFilePath(), values, error))
        return false;
    QFile copy(platform::formCopyFilePath());
    platform::moveAsideIfFull(copy.fileName(), copy.size(), record->size());
    if (!copy.open(QIODevice::WriteOnly | QIODevice::Append) ||
        copy.write(*record) != record->size() || !copy.flush()) {
        if (error)
            *error = copy.errorString();
        return false;
    }
    return true;
}

EditPostHandler::EditPostHandler(WebServerController& controller, const QString& favoritesFolder,
                                 platform::NoteOwnChange noteOwnChange, QObject* parent)
    : QObject(parent), controller_(&controller), favorites_(favoritesFolder),
      noteOwnChange_(std::move(noteOwnChange)) {
    controller.setPostHandler(this);
}

EditPostHandler::~EditPostHandler() {
    if (controller_)
        controller_->setPostHandler(nullptr);
}

THttpGetFlag EditPostHandler::postDocument(THttpConnection& connection) {
    const FormKind kind = FormKindOf(connection.path());
    if (kind == FormKind::None)
        return gfNotFound;
    const quint16 port = connection.server() ? connection.server()->listeningPort() : 0;
    Upload upload;
    upload.kind = kind;
    upload.refused = !IsEditPostAllowed(connection.peerAddr(), connection.request(), port);
    // Nothing is reserved here: the server core checks the declared length
    // only after this returns, and the body grows as its bytes arrive.
    THttpConnection* key = &connection;
    uploads_.insert(key, std::move(upload));
    connection.setLineMode(false);
    return gfAcceptBody;
}

void EditPostHandler::connectionClosed(THttpConnection& connection) {
    uploads_.remove(&connection);
}

void EditPostHandler::postedData(THttpConnection& connection, int) {
    auto found = uploads_.find(&connection);
    if (found == uploads_.end()) {
        // Bytes beyond the declared body are read and dropped.
        char discard[255];
        connection.receiveRaw(discard, sizeof discard);
        return;
    }
    Upload& upload = found.value();
    const qint64 length = connection.contentLength();
    const qint64 remaining = length - upload.received;
    if (remaining > 0) {
        qint64 received = 0;
        if (upload.refused) {
            char discard[4096];
            received = connection.receiveRaw(discard, std::min<qint64>(remaining, sizeof discard));
        } else {
            char chunk[65536];
            received = connection.receiveRaw(chunk, std::min<qint64>(remaining, sizeof chunk));
            if (received > 0)
                upload.body.append(chunk, received);
        }
        if (received <= 0)
            return;
        upload.received += received;
        if (!upload.refused && (length <= LogEveryArrivalLimit || upload.received == length))
            logBody(upload, upload.received == length);
    }
    if (upload.received < length)
        return;
    Upload done = std::move(upload);
    uploads_.erase(found);
    complete(connection, std::move(done));
}

void EditPostHandler::logBody(const Upload& upload, bool) {
    if (controller_)
        controller_->log().logLine(QStringLiteral("Data: '%1'")
                                       .arg(logText(untilZero(upload.body.left(upload.received)))));
}

void EditPostHandler::complete(THttpConnection& connection, Upload upload) {
    if (upload.refused) {
        if (controller_)
            controller_->log().logLine(
                QStringLiteral("Refused form post from %1").arg(connection.peerAddr()));
        connection.answerStatusAndClose(403, "Forbidden");
        return;
    }
    const qsizetype fields = upload.body.count('&') + 1;
    if (fields > MaxFields) {
        if (controller_)
            controller_->log().logLine(QStringLiteral("Refused form post from %1: %2 fields")
                                           .arg(connection.peerAddr())
                                           .arg(fields));
        connection.answerStatusAndClose(413, "Payload Too Large",
                                        "A form may hold at most 10000 fields.");
        return;
    }
    // Applying the form lets events run (folder scans, the title fetch, a
    // message box): the client may be gone when it is done. The record
    // itself stays while this, its handler, runs.
    QPointer<EditPostHandler> self(this);
    const QByteArray version = connection.version();
    const QString peer = connection.peerAddr();
    EditActions actions(favorites_, noteOwnChange_, fetchTitle_);
    QByteArray record;
    QString error;
    const bool recorded =
        ProcessEditForm(upload.kind, untilZero(upload.body), peer, actions, &record, &error);
    if (!self || !connection.isConnected())
        return;
    if (!recorded) {
        if (controller_)
            controller_->log().logLine(
                QStringLiteral("Form records could not be written: %1").arg(error));
        connection.abortConnection();
        return;
    }
    auto stream = std::make_unique<QBuffer>();
    stream->setData(ResultsAnswer(version, record));
    stream->open(QIODevice::ReadOnly);
    connection.setResponseStream(std::move(stream));
    connection.sendResponseStream();
}

} // namespace webserver
