// Placeholder cards, the host card and the blank-picture test.
#include "catalogue/placeholder.h"
#include "catalogue/run_trace.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace catalogue;

namespace {

const QRgb kNavy = qRgb(0, 0, 128);
const QRgb kKhaki = qRgb(189, 189, 115);

bool isNavyInk(QRgb c) {
    return qBlue(c) > qRed(c) + 40 && qBlue(c) > qGreen(c) + 40;
}

// The columns holding navy text in rows from..to.
std::pair<int, int> inkColumns(const QImage& image, int from, int to) {
    int left = image.width(), right = -1;
    for (int y = from; y <= to; ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isNavyInk(image.pixel(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

TEST(Placeholder, BuiltInPicturesHaveTheirSizes) {
    EXPECT_EQ(PlaceholderResource("SCRIPT").size(), QSize(64, 64));
    EXPECT_EQ(PlaceholderResource("PADLOCK").size(), QSize(48, 48));
    EXPECT_EQ(PlaceholderResource("ERROR").size(), QSize(64, 64));
    EXPECT_TRUE(PlaceholderResource("OTHER").isNull());
}

TEST(Placeholder, TextsByCode) {
    EXPECT_EQ(PlaceholderText(-100), "Scripted Site");
    EXPECT_EQ(PlaceholderText(-98), "Secure Site");
    EXPECT_EQ(PlaceholderText(-96), "Certificate Error");
    EXPECT_EQ(PlaceholderText(404), "404");
    EXPECT_EQ(PlaceholderText(-99), "Error:-99");
    EXPECT_EQ(PlaceholderText(0), "Error:0");
}

TEST(Placeholder, CardsHaveTheirBackgroundPictureAndCentredNavyText) {
    struct Case {
        int code;
        QRgb background;
        QString resource;
    };
    for (const Case& c :
         {Case{-100, kKhaki, "SCRIPT"}, Case{-98, qRgb(255, 255, 255), "PADLOCK"},
          Case{404, kKhaki, "ERROR"}, Case{-99, kKhaki, "ERROR"}, Case{-96, kKhaki, "ERROR"}}) {
        SCOPED_TRACE(c.code);
        const QImage card = PlaceholderPicture(c.code);
        ASSERT_EQ(card.size(), QSize(122, 122));
        EXPECT_EQ(card.pixel(0, 0), c.background);
        EXPECT_EQ(card.pixel(121, 60), c.background);

        // The built-in picture sits in the middle (over the background).
        const QImage picture = PlaceholderResource(c.resource);
        const int left = (122 - picture.width()) / 2, top = (122 - picture.height()) / 2;
        int matching = 0, opaque = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (qAlpha(picture.pixel(x, y)) == 255) {
                    ++opaque;
                    matching += card.pixel(left + x, top + y) == (picture.pixel(x, y) | 0xff000000);
                }
        EXPECT_GT(opaque, 100);
        EXPECT_EQ(matching, opaque);

        // The text starts at y = 100: navy ink below it, none just above,
        // centred across the card.
        const auto [inkLeft, inkRight] = inkColumns(card, 100, 121);
        ASSERT_LE(inkLeft, inkRight);
        EXPECT_LE(std::abs((inkLeft + inkRight) - 121), 8) << inkLeft << ".." << inkRight;
        if (c.code == -96) {
            // All of the long text shows: it keeps clear of the card's edges.
            EXPECT_GE(inkLeft, 1);
            EXPECT_LE(inkRight, 120);
        }
        EXPECT_EQ(inkColumns(card, 96, 99).second, -1);
        bool pureNavy = false;
        for (int y = 100; y < 122; ++y)
            for (int x = 0; x < 122; ++x)
                pureNavy |= card.pixel(x, y) == kNavy;
        EXPECT_TRUE(pureNavy);
    }
}

TEST(Placeholder, ErrorCardsAreRecognisedWhateverTheirCode) {
    // The certificate card too: a favourite that had one is pictured again.
    for (int code : {404, 503, -1, -99, -96})
        EXPECT_TRUE(IsErrorCard(PlaceholderPicture(code))) << code;
    QImage khaki(122, 122, QImage::Format_RGB32);
    khaki.fill(kKhaki);
    for (const QImage& other : {PlaceholderPicture(-100), PlaceholderPicture(-98),
                                HostCardPicture("example.test"), khaki, QImage()})
        EXPECT_FALSE(IsErrorCard(other));
}

TEST(Placeholder, DrawingSavesTheCardAndTracesIt) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    QDir().mkpath(folder + "images");
    RunTrace trace;
    ASSERT_TRUE(DrawPlaceholder(404, folder, "images\\ABC.BMP", trace));
    const QImage saved(folder + "images/ABC.BMP", "BMP");
    ASSERT_EQ(saved.size(), QSize(122, 122));
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), PlaceholderPicture(404));
    EXPECT_EQ(trace.lines(),
              QStringList({"picture_pathEx = " + folder, "picture_filenameEx = images\\ABC.BMP"}));
}

TEST(Placeholder, HostCardShowsTheWholeNameOnWhite) {
    for (const QString& host :
         {QString("example.test"), QString("a-very-long-host-name.with.many.parts.example.test")}) {
        SCOPED_TRACE(host.toStdString());
        const QImage card = HostCardPicture(host);
        ASSERT_EQ(card.size(), QSize(122, 122));
        EXPECT_FALSE(IsBlankPicture(card));
        EXPECT_NE(inkColumns(card, 0, 121).second, -1);
        // Nothing cut at the edges: the outer frame stays white.
        for (int i = 0; i < 122; ++i) {
            EXPECT_EQ(card.pixel(i, 0), qRgb(255, 255, 255));
            EXPECT_EQ(card.pixel(0, i), qRgb(255, 255, 255));
            EXPECT_EQ(card.pixel(i, 121), qRgb(255, 255, 255));
            EXPECT_EQ(card.pixel(121, i), qRgb(255, 255, 255));
        }
    }
}

TEST(Placeholder, BlankPictureLooksOnlyAtRowsOneToTheOneBeforeLast) {
    QImage flat(10, 8, QImage::Format_RGB32);
    flat.fill(Qt::red);
    EXPECT_TRUE(IsBlankPicture(flat));

    QImage edges = flat; // first and last rows are not examined
    edges.setPixel(3, 0, qRgb(0, 0, 0));
    edges.setPixel(3, 7, qRgb(0, 0, 0));
    EXPECT_TRUE(IsBlankPicture(edges));

    for (int row : {1, 2, 6}) {
        QImage marked = flat;
        marked.setPixel(9, row, qRgb(0, 0, 0));
        EXPECT_FALSE(IsBlankPicture(marked)) << row;
    }

    // Bytes past the last pixel of a row (padding) are no part of the picture.
    QImage padded(5, 6, QImage::Format_RGB888);
    padded.fill(Qt::white);
    ASSERT_GT(padded.bytesPerLine(), 15);
    padded.scanLine(2)[15] = 0x55;
    EXPECT_TRUE(IsBlankPicture(padded));

    QImage low(10, 3, QImage::Format_RGB32);
    low.fill(Qt::white);
    low.setPixel(0, 1, qRgb(0, 0, 0));
    EXPECT_TRUE(IsBlankPicture(low)); // under four rows: blank
    EXPECT_TRUE(IsBlankPicture(QImage()));
}

} // namespace
