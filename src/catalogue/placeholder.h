#pragma once
// The pictures drawn instead of a page capture: the placeholder cards for a
// scripted site, a secure site and an error code, the card naming the host
// when no capture could be made, and the test for a capture that shows
// nothing. All drawing is on a QImage, so it works without a display.
#include <QImage>
#include <QString>

namespace catalogue {

class RunTrace;

// Side of the square drawing surface of every picture.
constexpr int kPictureSide = 122;

// Codes with a picture of their own; every other code shows the error picture.
constexpr int kScriptedSiteCode = -100;
constexpr int kSecureSiteCode = -98;
constexpr int kCertificateErrorCode = -96; // shows the error picture with its own text

// One of the built-in pictures "SCRIPT" (64 x 64), "PADLOCK" (48 x 48) or
// "ERROR" (64 x 64); a null image for any other name.
QImage PlaceholderResource(const QString& name);

// The 122 x 122 placeholder card for a code: white for a secure site, khaki
// otherwise, the built-in picture centred and the text below it in navy.
QImage PlaceholderPicture(int code);

// The text a placeholder card carries for a code.
QString PlaceholderText(int code);

// Draws the placeholder for code and saves it as dataFolder + relativePath
// (relativePath in backslash form, as "images\N.BMP"), adding its lines to
// the run trace. False when the picture could not be saved, with the reason
// in error. A saveFolder saves it below that folder instead; the trace
// still names dataFolder.
bool DrawPlaceholder(int code, const QString& dataFolder, const QString& relativePath,
                     RunTrace& trace, QString* error = nullptr, const QString& saveFolder = {});

// True for an error-code card as PlaceholderPicture draws it (khaki, the
// "ERROR" picture in the middle), whatever its code.
bool IsErrorCard(const QImage& picture);

// True for a picture that stands in for a page capture: an error card, the
// "Scripted Site" or "Secure Site" card, or the host-name card of host. A
// favourite that had one is pictured again when it is kept otherwise.
bool IsStandInCard(const QImage& picture, const QString& host);

// A white 122 x 122 card with the host name in navy: what is stored for a
// page when no capture could be made at all (no browser on the machine).
QImage HostCardPicture(const QString& host);

// True when the picture carries nothing: every row from the third to the one
// before the last equals the second row (the first and last rows are not
// looked at); a picture under four rows high counts as blank.
bool IsBlankPicture(const QImage& picture);

} // namespace catalogue
