#include "catalogue/placeholder.h"

#include "catalogue/bmp_file.h"
#include "catalogue/picture_copy.h"
#include "catalogue/run_trace.h"
#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>

#include <cstring>
#include <mutex>

// The pictures are compiled into the static catalogue library, whose resource
// initialiser the linker would otherwise drop.
static void initPlaceholderResources() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(pictures); });
}

namespace catalogue {

namespace {

const QColor kNavy(0, 0, 128);
const QColor kKhaki(189, 189, 115);

QFont cardFont(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setItalic(true);
    return font;
}

// Halves that truncate toward zero, also for pictures wider than the card.
int centred(int outer, int inner) {
    return (outer - inner) / 2;
}

QImage blankSurface(const QColor& colour) {
    QImage surface(kPictureSide, kPictureSide, QImage::Format_RGB32);
    surface.fill(colour);
    return surface;
}

} // namespace

QImage PlaceholderResource(const QString& name) {
    if (name != QLatin1String("SCRIPT") && name != QLatin1String("PADLOCK") &&
        name != QLatin1String("ERROR"))
        return {};
    initPlaceholderResources();
    return QImage(QStringLiteral(":/catalogue/placeholders/") + name + QStringLiteral(".png"));
}

QString PlaceholderText(int code) {
    if (code == kScriptedSiteCode)
        return QStringLiteral("Scripted Site");
    if (code == kSecureSiteCode)
        return QStringLiteral("Secure Site");
    if (code == kCertificateErrorCode)
        return QStringLiteral("Certificate Error");
    if (code > 0)
        return QString::number(code);
    return QStringLiteral("Error:") + QString::number(code);
}

QImage PlaceholderPicture(int code) {
    const QColor background = code == kSecureSiteCode ? QColor(Qt::white) : kKhaki;
    QImage surface = blankSurface(background);
    const QString resource = code == kScriptedSiteCode ? QStringLiteral("SCRIPT")
                             : code == kSecureSiteCode ? QStringLiteral("PADLOCK")
                                                       : QStringLiteral("ERROR");
    const QImage picture = PlaceholderResource(resource);
    const QString text = PlaceholderText(code);

    QPainter painter(&surface);
    painter.drawImage(centred(kPictureSide, picture.width()),
                      centred(kPictureSide, picture.height()), picture);
    // A text wider than the card at the usual size is drawn smaller, until
    // all of its ink shows with a margin; the texts that fit keep the usual
    // size.
    int size = 19;
    if (QFontMetrics(cardFont(size)).horizontalAdvance(text) > kPictureSide)
        while (size > 11 &&
               QFontMetrics(cardFont(size)).tightBoundingRect(text).width() > kPictureSide - 6)
            --size;
    const QFont font = cardFont(size);
    const QFontMetrics metrics(font);
    painter.setFont(font);
    painter.setPen(kNavy);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(background);
    painter.drawText(centred(kPictureSide, metrics.horizontalAdvance(text)), 100 + metrics.ascent(),
                     text);
    return surface;
}

bool DrawPlaceholder(int code, const QString& dataFolder, const QString& relativePath,
                     RunTrace& trace, QString* error, const QString& saveFolder) {
    const QImage surface = PlaceholderPicture(code);
    trace.add({QStringLiteral("picture_pathEx = ") + dataFolder,
               QStringLiteral("picture_filenameEx = ") + relativePath});
    const QString& folder = saveFolder.isEmpty() ? dataFolder : saveFolder;
    return SavePictureWithCopy(surface, folder + platform::fromBackslashForm(relativePath), error);
}

namespace {

// True when the picture is the card of the given code (its background, and
// its built-in picture in the middle); the text below it is not compared.
bool isCardOf(const QImage& picture, int code) {
    const QColor background = code == kSecureSiteCode ? QColor(Qt::white) : kKhaki;
    if (picture.size() != QSize(kPictureSide, kPictureSide) ||
        (picture.pixel(0, 0) & 0xffffff) != (background.rgb() & 0xffffff))
        return false;
    const QImage card = PlaceholderPicture(code);
    const int left = centred(kPictureSide, 64);
    const int top = centred(kPictureSide, 64);
    for (int y = top; y < top + 64; ++y)
        for (int x = left; x < left + 64; ++x)
            if ((picture.pixel(x, y) & 0xffffff) != (card.pixel(x, y) & 0xffffff))
                return false;
    return true;
}

bool samePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff))
                return false;
    return true;
}

} // namespace

bool IsErrorCard(const QImage& picture) {
    return isCardOf(picture, -99); // every code shows the same picture
}

bool IsStandInCard(const QImage& picture, const QString& host) {
    return IsErrorCard(picture) || isCardOf(picture, kScriptedSiteCode) ||
           isCardOf(picture, kSecureSiteCode) || samePixels(picture, HostCardPicture(host));
}

QImage HostCardPicture(const QString& host) {
    QImage surface = blankSurface(Qt::white);
    QPainter painter(&surface);
    painter.setPen(kNavy);
    // The whole name must show: on one line when a smaller size allows it,
    // else broken over lines.
    const QRect area(4, 4, kPictureSide - 8, kPictureSide - 8);
    int flags = Qt::AlignCenter;
    int size = 19;
    while (size > 11 && QFontMetrics(cardFont(size)).horizontalAdvance(host) > area.width())
        --size;
    if (QFontMetrics(cardFont(size)).horizontalAdvance(host) > area.width()) {
        flags |= Qt::TextWrapAnywhere;
        for (size = 19; size > 6; --size) {
            if (area.contains(QFontMetrics(cardFont(size)).boundingRect(area, flags, host)))
                break;
        }
    }
    painter.setFont(cardFont(size));
    painter.drawText(area, flags, host);
    return surface;
}

bool IsBlankPicture(const QImage& picture) {
    if (picture.height() < 4)
        return true;
    const int bytesPerPixel = (picture.depth() + 7) / 8;
    const qsizetype compared = qsizetype(picture.width()) * bytesPerPixel;
    const uchar* first = picture.constScanLine(1);
    for (int y = 2; y <= picture.height() - 2; ++y) {
        if (std::memcmp(picture.constScanLine(y), first, size_t(compared)) != 0)
            return false;
    }
    return true;
}

} // namespace catalogue
