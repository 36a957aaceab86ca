#pragma once
// Takes the posts of the favourites editor and of the history page from the
// web server: collects each body, applies the form (edit_actions.h), keeps
// the two form records in the program folder and answers the results page.
// Posts from another machine, or sent by a page of another site, are
// answered 403 and change nothing.
#include "webserver/edit_actions.h"
#include "webserver/edit_form.h"
#include "webserver/web_server_controller.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <functional>

namespace webserver {

// Applies one complete form body and returns its record (the text shown on
// the results page): values.log is replaced by the form's fields, the record
// appended to CgiFrm1.txt. False (and *error) when a record file cannot be
// written; the actions already done stay done.
bool ProcessEditForm(FormKind kind, const QByteArray& body, const QString& peerAddr,
                     EditActions& actions, QByteArray* record, QString* error);

class EditPostHandler : public QObject, public PostHandler {
    Q_OBJECT
public:
    // Registers itself with controller and logs to its server log.
    // noteOwnChange is told the path of a new shortcut before it is written.
    EditPostHandler(WebServerController& controller, const QString& favoritesFolder,
                    platform::NoteOwnChange noteOwnChange, QObject* parent = nullptr);
    ~EditPostHandler() override;

    THttpGetFlag postDocument(THttpConnection& connection) override;
    void postedData(THttpConnection& connection, int error) override;
    void connectionClosed(THttpConnection& connection) override;

    // Replaces how a history post learns the page title.
    void setTitleFetcher(EditActions::TitleFetcher fetcher) { fetchTitle_ = std::move(fetcher); }

private:
    struct Upload {
        FormKind kind = FormKind::None;
        bool refused = false;
        QByteArray body;
        qint64 received = 0;
    };
    void complete(THttpConnection& connection, Upload upload);
    void logBody(const Upload& upload, bool complete);

    QPointer<WebServerController> controller_;
    QString favorites_;
    platform::NoteOwnChange noteOwnChange_;
    EditActions::TitleFetcher fetchTitle_;
    QHash<THttpConnection*, Upload> uploads_;
};

} // namespace webserver
