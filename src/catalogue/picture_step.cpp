#include "catalogue/picture_step.h"

#include "catalogue/bmp_file.h"
#include "catalogue/encodings.h"
#include "catalogue/html_text.h"
#include "catalogue/page_renderer.h"
#include "catalogue/picture_failures.h"
#include "catalogue/picture_files.h"
#include "catalogue/placeholder.h"
#include "catalogue/run_trace.h"
#include "catalogue/turn_gate.h"
#include "catalogue/wait_notice.h"
#include "catalogue/worker_messages.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QUrl>

namespace catalogue {

namespace {

// The longest full picture path before the name is shortened.
constexpr int kMaxPicturePath = 255;

const QByteArray kLineEnd("\n\r");

bool wasDropped(const PictureStepInput& in) {
    return in.dropped && in.dropped->load();
}

// The page's thumbnail (and its large copy in *large), taken in the work's
// turn at the renderer; a null image without a renderer or when the work was
// dropped, and null with
// *certificateFailed true when the browser refused the site's certificate.
QImage capturePage(const PictureStepInput& in, PageRenderer* renderer, bool* certificateFailed,
                   QImage* large) {
    if (!renderer || wasDropped(in))
        return {};
    if (!in.captureGate)
        return renderer->capture(in.finalUrl, certificateFailed, large);
    static const std::atomic<bool> never{false};
    bool entered = false;
    {
        const NoticedWait waiting(in.waitNotice);
        entered = in.captureGate->enter(in.captureOrder, in.dropped ? *in.dropped : never);
    }
    if (!entered)
        return {};
    struct Turn {
        TurnGate& gate;
        ~Turn() { gate.leave(); }
    } turn{*in.captureGate};
    return renderer->capture(in.finalUrl, certificateFailed, large);
}

QString nativePath(const QString& dataFolder, const QString& relative) {
    return dataFolder + platform::fromBackslashForm(relative);
}

bool pictureExists(const QString& dataFolder, const QString& relative) {
    return QFileInfo(nativePath(dataFolder, relative)).isFile();
}

QString hostOf(const QString& url) {
    const QString host = QUrl(url).host();
    return host.isEmpty() ? url : host;
}

QImage fileTypeCard(const QImage& icon) {
    QImage surface(kPictureSide, kPictureSide, QImage::Format_RGB32);
    surface.fill(Qt::white);
    if (!icon.isNull()) {
        QPainter painter(&surface);
        painter.drawImage((kPictureSide - icon.width()) / 2, (kPictureSide - icon.height()) / 2,
                          icon);
    }
    return surface;
}

} // namespace

bool IsReachableCode(int code) {
    return code == 200 || code == 501 || code == 301 || code == 302 || code == -97;
}

QString FileTypePattern(const QString& url) {
    const qsizetype dot = url.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QStringLiteral("*.exe");
    return QLatin1Char('*') + url.mid(dot);
}

PicturePath PicturePathFor(const QString& dataFolder, const QString& favouriteName, int counter,
                           bool forHistory) {
    const QByteArray name =
        QByteArray(QString::asprintf("%4d", counter).toUtf8()) + favouriteName.toUtf8();
    const QString folder =
        forHistory ? QStringLiteral("images\\history\\") : QStringLiteral("images\\");
    PicturePath path;
    path.relative = folder + QString::fromLatin1(HexEncode(name)) + QStringLiteral(".BMP");
    const qsizetype fullLength = dataFolder.length() + path.relative.length();
    if (fullLength > kMaxPicturePath) {
        qsizetype keep = path.relative.length() - (fullLength - kMaxPicturePath) - 10;
        // A data folder so long that the cut would reach into the folder part
        // keeps one character of the name, so the picture stays in its folder.
        keep = qMax(keep, folder.length() + 1);
        path.relative = path.relative.left(keep) + QStringLiteral(".BMP");
        path.shortened = true;
    }
    return path;
}

void RunPictureStep(const PictureStepInput& in, PictureProbe& probe, PageRenderer* renderer,
                    RunTrace& trace, QByteArray& currentLink) {
    const QString& O = in.dataFolder;
    // Where this step keeps the files it makes; O for everything else.
    const QString& W = in.stagingFolder.isEmpty() ? O : in.stagingFolder;

    trace.add({QStringLiteral("force directories = ") + O + QStringLiteral("images/")});
    QDir().mkpath(O + QStringLiteral("images"));

    const PicturePath picture = PicturePathFor(O, in.favouriteName, in.evenFileName, in.forHistory);
    const QString& M = picture.relative;
    trace.add({QStringLiteral("picture_path = ") + O, QStringLiteral("picture_filename = ") + M});
    if (picture.shortened)
        trace.add(
            {QStringLiteral("picture_pathEY = ") + O, QStringLiteral("picture_filenameEY = ") + M});
    // The history folder is normally made by the history analysis; a picture
    // must never be lost because it is missing.
    QDir().mkpath(QFileInfo(nativePath(W, M)).path());

    const int code = probe.FetchStatus(in.finalUrl, false);
    auto codePiece = [](int value) {
        return "CODE = \"" + QByteArray::number(value) + "\" " + kLineEnd;
    };
    const qsizetype codeAt = currentLink.size();
    currentLink += codePiece(code);

    // A picture that cannot be stored fails the run (see PictureFailures).
    auto noteUnsaved = [&](bool saved, const QString& error) {
        if (!saved && in.failures)
            in.failures->note(nativePath(O, M), error);
        return saved;
    };
    auto placeholder = [&](int placeholderCode) {
        QString error;
        noteUnsaved(DrawPlaceholder(placeholderCode, O, M, trace, &error, W), error);
    };
    auto save = [&](const QImage& surface, const QImage& large = {}) {
        QString error;
        return noteUnsaved(PictureFiles(nativePath(W, M)).save(surface, large, &error), error);
    };

    auto appendImage = [&](const QString& folder) {
        if (pictureExists(folder, M))
            currentLink += "IMAGE =\"" + M.toUtf8() + "\" " + kLineEnd;
    };
    // A picture under this run's name already: a favourite of the same
    // name made it earlier in this run, and with "Get only if a new site"
    // the two share it; nothing more is asked of the site (no title).
    if (in.newOnly && pictureExists(O, M)) {
        appendImage(O);
        return;
    }
    const PicturePath previous =
        PicturePathFor(O, in.favouriteName, in.evenFileName - 1, in.forHistory);
    bool carried = false;
    auto carryPreviousForward = [&] {
        if (!pictureExists(W, M) && pictureExists(O, previous.relative)) {
            PictureFiles(nativePath(W, M)).carryFrom(PictureFiles(nativePath(O, previous.relative)));
            carried = pictureExists(W, M);
        }
    };
    // "Get only if a new site": a favourite that had a picture in the
    // previous run keeps it under this run's name. Everything else about
    // the favourite (its probe, code and title) is learnt as usual.
    if (in.newOnly)
        carryPreviousForward();

    if (!IsReachableCode(code)) {
        carryPreviousForward();
        if (in.showCode || !pictureExists(W, M))
            placeholder(code);
    } else if (probe.IsPageOrPicture(in.finalUrl)) {
        const QByteArray title = trimmedTitle(probe.PageTitle(in.finalUrl));
        currentLink += "GIVEN_TITLE = \"" + EscapeQuotedValue(title) + "\" " + kLineEnd;

        // A carried picture that only stands in for a capture (an error,
        // "Scripted Site", "Secure Site" or host-name card) is captured again.
        const bool keep =
            carried && !IsStandInCard(QImage(nativePath(W, M), "BMP"), hostOf(in.finalUrl));
        if (!keep) {
            bool certificateFailed = false;
            QImage large;
            QImage surface = capturePage(in, renderer, &certificateFailed, &large);
            if (wasDropped(in))
                return; // nothing of dropped work is kept
            if (certificateFailed) {
                // The browser refused the site's certificate: the favourite
                // counts as failed, with the card that says why.
                currentLink.replace(codeAt, codePiece(code).size(),
                                    codePiece(kCertificateErrorCode));
                placeholder(kCertificateErrorCode);
            } else {
                if (surface.isNull()) {
                    surface = HostCardPicture(hostOf(in.finalUrl)); // no browser, or it failed
                    large = {};
                }
                if (IsBlankPicture(surface)) {
                    placeholder(kScriptedSiteCode);
                } else if (!save(surface, large)) {
                    placeholder(-99);
                    ShowWorkerMessage(QStringLiteral("problem"));
                }
            }
        }
    } else {
        const bool keep =
            carried && !IsStandInCard(QImage(nativePath(W, M), "BMP"), hostOf(in.finalUrl));
        if (!keep) {
            const QImage surface = fileTypeCard(probe.FileTypeIcon(in.finalUrl));
            trace.add({QStringLiteral("picture_pathEZ = ") + O,
                       QStringLiteral("picture_filenameEZ = ") + M});
            save(surface);
        }
    }

    appendImage(W);
}

} // namespace catalogue
