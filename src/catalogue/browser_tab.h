#pragma once
// A tab of the headless browser kept open for one capture after another:
// set up once (page events, 1024 x 768 metrics), then for each page it
// navigates, waits for that navigation's own load, and has the browser take
// the picture already clipped to the page and scaled to the thumbnail, so
// only a small PNG crosses the pipe and gets decoded.
#include "catalogue/request_pacer.h"

#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QString>

#include <memory>

class QDeadlineTimer;

namespace catalogue {

class DevToolsConnection;

class BrowserTab {
public:
    // Opens and sets up a new tab in the given browser context (empty: the
    // browser's own); null when the browser did not do it in time.
    static std::unique_ptr<BrowserTab> open(std::shared_ptr<DevToolsConnection> connection,
                                            int commandMs, const QString& contextId = {});
    ~BrowserTab();

    // The thumbnail of the page at url. A page that does not finish loading
    // within loadMs is captured as it stands; a navigation that never shows
    // a document of its own is captured as an empty page, never as the
    // tab's previous page. Null when the tab failed (see usable()), and null
    // with *certificateFailed true when the browser refused the page's
    // certificate: its own warning page is never pictured, and the tab
    // stays usable. With large given, the browser takes the picture at the
    // large copy's size; it goes there and the thumbnail is scaled from it.
    QImage capture(const QString& url, int loadMs, int commandMs, bool* certificateFailed,
                   QImage* large = nullptr);
    // False once the tab got stuck, crashed or lost its browser: close it.
    bool usable() const { return usable_; }
    // The page process under the tab ended while it was in use (its own
    // page crashed it, or another page stuck in the same process was ended).
    bool crashed() const { return crashed_; }
    // For a tab that got stuck: its page's script is stopped, and when its
    // page process still does not answer, that process is ended, so the
    // pages that share it get a working one. Bounded by commandMs.
    void endStuckPage(int commandMs);
    // Closes the tab in the browser; false when the browser did not answer.
    bool close(int commandMs);
    const QString& contextId() const { return contextId_; }

    // Whether a navigation error text of the browser is a certificate failure.
    static bool isCertificateError(const QString& errorText);

private:
    struct Navigation {
        bool committed = false;          // a document of this navigation is shown
        bool loaded = false;             // and its load event has fired
        bool certificateRefused = false; // the browser shows its warning instead
    };
    BrowserTab(std::shared_ptr<DevToolsConnection> connection, QString contextId, QString targetId,
               QString sessionId);
    Navigation navigate(const QString& url, int waitMs);
    QImage takePicture(int commandMs, QImage* large);
    // The browser holds every request of the page (see RequestPacer).
    void requestHeld(const QJsonObject& params, const QDeadlineTimer& deadline);
    void requestEnded(const QString& networkId, const QDeadlineTimer& deadline);
    void letGo(const QStringList& heldIds, const QDeadlineTimer& deadline);
    // Reads what the tab was told already: true when its page process ended.
    bool crashNoticed();

    std::shared_ptr<DevToolsConnection> connection_;
    QString contextId_;
    QString targetId_;
    QString sessionId_;
    bool usable_ = true;
    bool crashed_ = false;
    bool closed_ = false;
    RequestPacer pacer_;
    QHash<QString, QJsonObject> heldHeaders_; // of the requests not let go yet
};

} // namespace catalogue
