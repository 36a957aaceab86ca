#include "catalogue/browser_tab.h"

#include "catalogue/devtools_connection.h"
#include "catalogue/thumbnail_size.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <utility>

namespace catalogue {

namespace {

const QString kBlankPage = QStringLiteral("about:blank");
// How long a page process whose script was stopped has to answer again, and
// how long its end takes to be reported once it is asked for.
constexpr int kStoppedScriptAnswerMs = 2000;
constexpr int kProcessEndMs = 3000;

bool tellsOfCrash(const QJsonObject& message) {
    const QString event = message.value("method").toString();
    return event == QLatin1String("Inspector.targetCrashed") ||
           event == QLatin1String("Inspector.detached");
}

} // namespace

BrowserTab::BrowserTab(std::shared_ptr<DevToolsConnection> connection, QString contextId,
                       QString targetId, QString sessionId)
    : connection_(std::move(connection)), contextId_(std::move(contextId)),
      targetId_(std::move(targetId)), sessionId_(std::move(sessionId)) {
    connection_->openMailbox(sessionId_);
}

BrowserTab::~BrowserTab() {
    connection_->closeMailbox(sessionId_);
}

std::unique_ptr<BrowserTab> BrowserTab::open(std::shared_ptr<DevToolsConnection> connection,
                                             int commandMs, const QString& contextId) {
    const QDeadlineTimer deadline(commandMs);
    QJsonObject where{{"url", kBlankPage}};
    if (!contextId.isEmpty())
        where.insert("browserContextId", contextId);
    const auto target = connection->call("Target.createTarget", where, {}, deadline);
    const QString targetId = target ? target->value("targetId").toString() : QString();
    if (targetId.isEmpty())
        return nullptr;
    const auto attached = connection->call(
        "Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, {}, deadline);
    const QString sessionId = attached ? attached->value("sessionId").toString() : QString();
    std::unique_ptr<BrowserTab> tab(new BrowserTab(connection, contextId, targetId, sessionId));
    if (sessionId.isEmpty()) {
        tab->close(commandMs);
        return nullptr;
    }
    // Sent together, answered together: the set-up costs one round trip.
    const QJsonObject metrics{{"width", kPageWidth},
                              {"height", kPageHeight},
                              {"deviceScaleFactor", 1},
                              {"mobile", false}};
    const int requests[] = {
        connection->request("Page.enable", {}, sessionId, deadline),
        // Tells of certificates the browser refuses, also on navigations
        // the page starts itself; the refusal itself stays.
        connection->request("Security.enable", {}, sessionId, deadline),
        connection->request("Emulation.setDeviceMetricsOverride", metrics, sessionId, deadline),
        // Network events tell when a request has ended; no bodies are kept.
        connection->request("Network.enable",
                            {{"maxTotalBufferSize", 0}, {"maxResourceBufferSize", 0}}, sessionId,
                            deadline),
        // Every request waits for the pacer to let it go.
        connection->request("Fetch.enable",
                            {{"patterns", QJsonArray{QJsonObject{{"urlPattern", "*"},
                                                                 {"requestStage", "Request"}}}}},
                            sessionId, deadline),
    };
    bool ready = true;
    for (const int id : requests) {
        const auto answer = id ? connection->waitAnswer(id, deadline) : std::nullopt;
        ready = ready && answer && !answer->contains("error");
    }
    if (!ready) {
        // Its page process may be one that another page holds stuck.
        tab->usable_ = false;
        tab->endStuckPage(commandMs);
        tab->close(commandMs);
        return nullptr;
    }
    return tab;
}

bool BrowserTab::close(int commandMs) {
    if (closed_)
        return true;
    closed_ = true;
    usable_ = false;
    connection_->closeMailbox(sessionId_);
    return connection_
        ->call("Target.closeTarget", {{"targetId", targetId_}}, {}, QDeadlineTimer(commandMs))
        .has_value();
}

QImage BrowserTab::capture(const QString& url, int loadMs, int commandMs, bool* certificateFailed,
                           QImage* large) {
    *certificateFailed = false;
    if (!usable_)
        return {};
    Navigation page = navigate(url, loadMs);
    if (!usable_)
        return {};
    if (page.certificateRefused) {
        *certificateFailed = true;
        // The warning page is not left for the next page's navigation.
        page = navigate(kBlankPage, commandMs);
        if (!page.loaded)
            usable_ = false;
        return {};
    }
    if (!page.loaded) {
        // Captured as it stands.
        connection_->send("Page.stopLoading", {}, sessionId_, QDeadlineTimer(commandMs));
    }
    if (!page.committed) {
        // Still the previous page (a download, a cancelled navigation, a
        // server that never answered): the picture is that of an empty tab.
        page = navigate(kBlankPage, commandMs);
        if (!usable_ || !page.loaded) {
            usable_ = false;
            return {};
        }
    }
    return takePicture(commandMs, large);
}

BrowserTab::Navigation BrowserTab::navigate(const QString& url, int waitMs) {
    Navigation result;
    const QDeadlineTimer deadline(waitMs);
    // Whatever the previous page still sent is no news about this one, and
    // its held requests end with it.
    connection_->clearMailbox(sessionId_);
    pacer_.clear();
    heldHeaders_.clear();
    const int navigation = connection_->send("Page.navigate", {{"url", url}}, sessionId_, deadline);
    if (navigation == 0) {
        usable_ = false;
        return result;
    }
    // A document shown in the main frame names the navigation (loader) it
    // came from, and its load event follows; the answer that tells which
    // loader is ours may come before or after them.
    QString ours, shown;
    bool answered = false;
    QSet<QString> committedLoaders, loadedLoaders;
    QSet<QString> refusedAddresses; // by the browser, for their certificate
    while (!result.loaded) {
        const auto message = connection_->nextMessage(sessionId_, deadline);
        if (!message) {
            if (connection_->broken())
                usable_ = false;
            return result;
        }
        const QJsonObject params = message->value("params").toObject();
        if (message->value("id").toInt() == navigation) {
            answered = true;
            const QJsonObject answer = message->value("result").toObject();
            ours = answer.value("loaderId").toString();
            const QString error = answer.value("errorText").toString();
            if (isCertificateError(error)) {
                result.certificateRefused = true;
                return result;
            }
            if (message->contains("error") || (ours.isEmpty() && !error.isEmpty()))
                return result; // refused or cancelled: no document of its own
            if (ours.isEmpty()) {
                // Within the same document (only the fragment differs).
                result.committed = result.loaded = true;
                return result;
            }
        } else {
            const QString event = message->value("method").toString();
            if (event == QLatin1String("Fetch.requestPaused")) {
                requestHeld(params, deadline);
            } else if (event == QLatin1String("Network.loadingFinished") ||
                       event == QLatin1String("Network.loadingFailed")) {
                requestEnded(params.value("requestId").toString(), deadline);
            } else if (event == QLatin1String("Security.certificateError")) {
                refusedAddresses.insert(params.value("requestURL").toString());
            } else if (event == QLatin1String("Page.frameNavigated")) {
                const QJsonObject frame = params.value("frame").toObject();
                if (!frame.contains("parentId") &&
                    refusedAddresses.contains(frame.value("unreachableUrl").toString())) {
                    // The page itself (not a frame inside it) now shows the
                    // browser's own page for an address it refused.
                    result.certificateRefused = true;
                    return result;
                }
                if (!frame.contains("parentId")) {
                    shown = frame.value("loaderId").toString();
                    committedLoaders.insert(shown);
                }
            } else if (event == QLatin1String("Page.loadEventFired")) {
                if (!shown.isEmpty())
                    loadedLoaders.insert(shown); // else the previous page's
            } else if (event == QLatin1String("Page.javascriptDialogOpening")) {
                // An alert or confirm box would hold the page until answered.
                connection_->send("Page.handleJavaScriptDialog", {{"accept", true}}, sessionId_,
                                  deadline);
            } else if (tellsOfCrash(*message)) {
                usable_ = false;
                crashed_ = true;
                return result;
            }
        }
        if (answered) {
            result.committed = committedLoaders.contains(ours);
            result.loaded = loadedLoaders.contains(ours);
        }
    }
    return result;
}

void BrowserTab::requestHeld(const QJsonObject& params, const QDeadlineTimer& deadline) {
    const QJsonObject request = params.value("request").toObject();
    const QString heldId = params.value("requestId").toString();
    heldHeaders_.insert(heldId, request.value("headers").toObject());
    letGo(pacer_.held(
              {heldId, params.value("networkId").toString(), request.value("url").toString()}),
          deadline);
}

void BrowserTab::requestEnded(const QString& networkId, const QDeadlineTimer& deadline) {
    letGo(pacer_.ended(networkId), deadline);
}

void BrowserTab::letGo(const QStringList& heldIds, const QDeadlineTimer& deadline) {
    for (const QString& heldId : heldIds) {
        // The server closes the connection after its answer: the browser
        // keeps no idle connection to it beside the probes' own.
        QJsonObject headers = heldHeaders_.take(heldId);
        for (const QString& name : headers.keys())
            if (name.compare(QLatin1String("Connection"), Qt::CaseInsensitive) == 0)
                headers.remove(name);
        QJsonArray entries;
        for (auto it = headers.constBegin(); it != headers.constEnd(); ++it)
            entries.append(QJsonObject{{"name", it.key()}, {"value", it.value().toString()}});
        entries.append(QJsonObject{{"name", "Connection"}, {"value", "close"}});
        connection_->send("Fetch.continueRequest", {{"requestId", heldId}, {"headers", entries}},
                          sessionId_, deadline);
    }
}

bool BrowserTab::crashNoticed() {
    const QDeadlineTimer now(0);
    while (const auto message = connection_->nextMessage(sessionId_, now))
        if (tellsOfCrash(*message))
            crashed_ = true;
    return crashed_;
}

void BrowserTab::endStuckPage(int commandMs) {
    if (closed_ || crashNoticed())
        return;
    // Stopping the script frees the process when the script was all that held it.
    const QDeadlineTimer answer(qMin(commandMs, kStoppedScriptAnswerMs));
    connection_->send("Runtime.terminateExecution", {}, sessionId_, answer);
    const int check =
        connection_->request("Runtime.evaluate", {{"expression", "0"}}, sessionId_, answer);
    if (check != 0 && connection_->waitAnswer(check, answer))
        return;
    // Still held (a script that starts again, a page too heavy to lay out):
    // the process is ended from its own I/O thread, which still answers.
    const QDeadlineTimer ended(qMin(commandMs, kProcessEndMs));
    const int end = connection_->send("Page.crash", {}, sessionId_, ended);
    if (end == 0)
        return;
    // An answer means it was refused (the page has gone already).
    while (const auto message = connection_->nextMessage(sessionId_, ended))
        if (tellsOfCrash(*message) || message->value("id").toInt() == end)
            return;
}

bool BrowserTab::isCertificateError(const QString& errorText) {
    // net::ERR_CERT_... and net::ERR_CERTIFICATE_...
    return errorText.startsWith(QLatin1String("net::ERR_CERT"));
}

QImage BrowserTab::takePicture(int commandMs, QImage* large) {
    const QSize card = large ? largeCopySize() : pageThumbnailSize();
    const QJsonObject clip{{"x", 0},
                           {"y", 0},
                           {"width", kPageWidth},
                           {"height", kPageHeight},
                           {"scale", double(card.width()) / kPageWidth}};
    const auto shot = connection_->call(
        "Page.captureScreenshot", {{"format", "png"}, {"clip", clip}, {"optimizeForSpeed", true}},
        sessionId_, QDeadlineTimer(commandMs));
    if (!shot) {
        usable_ = false;
        return {};
    }
    const QByteArray png = QByteArray::fromBase64(shot->value("data").toString().toLatin1());
    QImage picture = QImage::fromData(png, "PNG");
    if (picture.isNull()) {
        usable_ = false;
        return {};
    }
    if (picture.width() == card.width() && picture.height() == card.height() + 1) {
        // The page's last few lines fall on a row of their own, partly
        // covered: the card leaves it out, as a full capture scaled into it does.
        picture = picture.copy(QRect(QPoint(0, 0), card));
    } else if (picture.size() != card) {
        picture = picture.scaled(card, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    picture = picture.convertToFormat(QImage::Format_RGB32);
    if (!large)
        return picture;
    // Both from this one capture, so the two never show different moments.
    *large = picture;
    return picture.scaled(pageThumbnailSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace catalogue
