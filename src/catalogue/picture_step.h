#pragma once
// The picture step of the site worker: decides from the site's status and the
// user's options whether to capture a fresh thumbnail of the page, draw the
// file-type icon of a download, keep the previous run's picture or draw a
// placeholder; stores the picture as a BMP file under the data folder and
// appends CODE, GIVEN_TITLE and IMAGE to the favourite's Link record.
#include <QByteArray>
#include <QImage>
#include <QString>

#include <atomic>

namespace catalogue {

class TurnGate;
class PageRenderer;
class WaitNotice;
class PictureFailures;
class RunTrace;

// The site questions the picture step asks. The site worker implements it
// with its own probe; tests answer from a local site.
class PictureProbe {
public:
    virtual ~PictureProbe() = default;
    // The probe result code: an HTTP status or one of the negative codes.
    virtual int FetchStatus(const QString& url, bool wantBody) = 0;
    // True when the server declares a "text" or "image" content type.
    virtual bool IsPageOrPicture(const QString& url) = 0;
    // The page's title as sent (untrimmed), empty when it has none.
    virtual QByteArray PageTitle(const QString& url) = 0;
    // The icon of the file type the address names; a null image when none.
    virtual QImage FileTypeIcon(const QString& url) = 0;
};

struct PictureStepInput {
    QString dataFolder;    // native data folder, ending in "/"
    QString favouriteName; // the shortcut's file name without its extension
    QString finalUrl;      // the address after redirects
    bool forHistory = false;
    int evenFileName = 0; // the run counter
    bool newOnly = false; // cb_newonly: "Get only if a new site"
    bool showCode = true; // cb_ShowCode: "Display Error Code if page unavailable"

    // Work running ahead of the run: it waits for a turn at the renderer in
    // its place (captureOrder) and stops before capturing once dropped.
    const std::atomic<bool>* dropped = nullptr;
    // Told of every picture that could not be stored; may be null.
    PictureFailures* failures = nullptr;
    TurnGate* captureGate = nullptr;
    qint64 captureOrder = 0;
    // Told of the wait for a turn at the renderer; may be null.
    WaitNotice* waitNotice = nullptr;
    // Work ahead of the run keeps its picture files here (the same
    // relative path below it) until the run takes the favourite, so no
    // page is served a picture the run has not taken; empty: the picture
    // goes straight to the data folder.
    QString stagingFolder;
};

// Runs on the worker thread. renderer may be null (no browser): pages then get
// a card with the site's host name. Appends to currentLink.
void RunPictureStep(const PictureStepInput& in, PictureProbe& probe, PageRenderer* renderer,
                    RunTrace& trace, QByteArray& currentLink);

// A picture's path relative to the data folder, in backslash form
// ("images\202020354E657773.BMP"), and whether the long-path rule cut it.
struct PicturePath {
    QString relative;
    bool shortened = false;
};

// The picture name of a favourite in the run with the given counter: the
// hexadecimal bytes of the counter as "%4d" followed by the name, in the
// images folder (or its history folder). A full path over 255 characters is
// cut to 249.
PicturePath PicturePathFor(const QString& dataFolder, const QString& favouriteName, int counter,
                           bool forHistory);

// The site codes counted as an answered site.
bool IsReachableCode(int code);

// "*" followed by the address from its last "." on, "*.exe" without a ".".
QString FileTypePattern(const QString& url);

} // namespace catalogue
