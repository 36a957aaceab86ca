// The compressed copies beside the stored pictures: the same pixels as the
// BMP, written by every way the picture step stores a picture, carried with
// a picture kept from the previous run, and never in the way of the BMP.
#include "catalogue/bmp_file.h"
#include "catalogue/picture_copy.h"
#include "catalogue/picture_files.h"
#include "catalogue/picture_step.h"
#include "catalogue/placeholder.h"
#include "catalogue/run_trace.h"
#include "catalogue/site_probe.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace catalogue;
using testsupport::TestSite;

namespace {

QImage pixels(const QString& path, const char* format) {
    return QImage(path, format).convertToFormat(QImage::Format_RGB32);
}

// The BMP and its copy hold the same pixels.
::testing::AssertionResult sameAsCopy(const QString& bmpPath) {
    const QImage bmp = pixels(bmpPath, "BMP");
    const QImage png = pixels(PngCopyPath(bmpPath), "PNG");
    if (bmp.isNull() || png.isNull())
        return ::testing::AssertionFailure()
               << "missing " << (bmp.isNull() ? "BMP" : "PNG") << " of " << bmpPath.toStdString();
    if (bmp != png)
        return ::testing::AssertionFailure() << "pixels differ for " << bmpPath.toStdString();
    return ::testing::AssertionSuccess();
}

TEST(PictureCopy, CopyIsNamedLikeThePictureWithAPngExtension) {
    EXPECT_EQ(PngCopyPath("/d/images/20203541.BMP"), "/d/images/20203541.png");
    EXPECT_EQ(PngCopyPath("/d/images/x.bmp"), "/d/images/x.png");
    EXPECT_EQ(PngCopyPath("/d/images.BMP/x"), "/d/images.BMP/x.png");
}

TEST(PictureCopy, CopyHoldsThePixelsTheBmpStoresAndIsMuchSmaller) {
    testsupport::TempHome home;
    const QString path = home.path() + "/p.BMP";

    // Half transparent: both files show it over white.
    QImage image(122, 91, QImage::Format_ARGB32);
    image.fill(qRgba(0, 0, 255, 128));
    for (int x = 0; x < 122; ++x)
        image.setPixel(x, x % 91, qRgba(255, 0, 0, 255));
    ASSERT_TRUE(SavePictureWithCopy(image, path));
    EXPECT_TRUE(sameAsCopy(path));
    EXPECT_EQ(pixels(PngCopyPath(path), "PNG").pixel(1, 50), qRgb(127, 127, 255));

    const QImage card = PlaceholderPicture(404);
    ASSERT_TRUE(SavePictureWithCopy(card, path));
    EXPECT_TRUE(sameAsCopy(path));
    EXPECT_LT(QFileInfo(PngCopyPath(path)).size() * 4, QFileInfo(path).size());
}

TEST(PictureCopy, ACopyThatCannotBeWrittenLeavesTheBmpAndNoHalfFile) {
    testsupport::TempHome home;
    const QString path = home.path() + "/p.BMP";
    ASSERT_TRUE(QDir().mkpath(PngCopyPath(path))); // a folder where the copy should go
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::green);
    EXPECT_TRUE(SavePictureWithCopy(image, path));
    EXPECT_EQ(pixels(path, "BMP"), image);
    // The large copy has a place of its own and is written.
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), QStringList({"p.BMP", "p.large.png"}));

    // Without a picture nothing is written at all.
    QString error;
    EXPECT_FALSE(SavePictureWithCopy(QImage(), home.path() + "/none.BMP", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/none.png"));
    EXPECT_FALSE(WritePngCopyOf(home.path() + "/none.BMP"));
}

// A full disk can let the picture through and refuse its copy: the copy of
// an earlier picture under that name must not stay to show the old pixels.
TEST(PictureCopy, ACopyThatCannotBeWrittenLeavesNoEarlierCopyBehind) {
    testsupport::TempHome home;
    const QString folder = home.path() + "/small";
    QDir().mkpath(folder);
    if (::geteuid() != 0 ||
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", folder}) != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root and mount rights)";
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute("umount", {"-l", path}); }
    } unmount{folder};

    QImage earlier(122, 91, QImage::Format_RGB32);
    earlier.fill(Qt::green);
    const QString path = folder + "/p.BMP";
    ASSERT_TRUE(SavePictureWithCopy(earlier, path));
    ASSERT_TRUE(QFile::remove(path)); // the copy alone stays, as after a failed run

    // Room for the new BMP (33,542 bytes: nine pages) and nothing more.
    const QString filler = folder + "/filler";
    QProcess::execute("sh", {"-c", "dd if=/dev/zero of='" + filler + "' bs=4k 2>/dev/null"});
    ASSERT_TRUE(QFile::resize(filler, QFileInfo(filler).size() - 9 * 4096));

    QImage picture(122, 91, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(SavePictureWithCopy(picture, path));
    EXPECT_EQ(pixels(path, "BMP"), picture);
    if (QFileInfo::exists(PngCopyPath(path))) {
        EXPECT_TRUE(sameAsCopy(path));
    }
    const bool large = QFileInfo::exists(PictureFiles(path).largeCopy());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(),
              (QFileInfo::exists(PngCopyPath(path)) ? 3 : 2) + (large ? 1 : 0))
        << "no temporary file either";
}

class PictureStepCopies : public ::testing::Test {
protected:
    PictureStepInput input(const QString& url, int counter = 5) const {
        PictureStepInput in;
        in.dataFolder = home.dataFolder();
        in.favouriteName = QStringLiteral("News");
        in.finalUrl = url;
        in.evenFileName = counter;
        return in;
    }
    void run(const PictureStepInput& in) {
        QByteArray link;
        RunPictureStep(in, probe, nullptr, trace, link);
    }
    QString pictureFile(int counter, bool forHistory = false) const {
        return home.dataFolder() +
               QString(PicturePathFor(home.dataFolder(), "News", counter, forHistory).relative)
                   .replace('\\', '/');
    }

    testsupport::TempHome home;
    TestSite site;
    SiteProbe probe;
    RunTrace trace;
};

TEST_F(PictureStepCopies, EveryKindOfStoredPictureGetsItsCopy) {
    // A page (a host card without a browser), an error card, a history
    // picture and a download's icon card.
    run(input(site.url("/title")));
    EXPECT_TRUE(sameAsCopy(pictureFile(5)));
    run(input("http://127.0.0.1:1/", 6));
    EXPECT_TRUE(sameAsCopy(pictureFile(6)));
    EXPECT_EQ(pixels(PngCopyPath(pictureFile(6)), "PNG"), PlaceholderPicture(-99));
    PictureStepInput history = input(site.url("/title"), 7);
    history.forHistory = true;
    run(history);
    EXPECT_TRUE(sameAsCopy(pictureFile(7, true)));
    site.setRawRoute("/file.zip", TestSite::response(200, "application/zip", "PK"));
    run(input(site.url("/file.zip"), 8));
    EXPECT_TRUE(sameAsCopy(pictureFile(8)));
}

TEST_F(PictureStepCopies, APictureKeptFromThePreviousRunKeepsItsCopy) {
    QImage earlier(122, 91, QImage::Format_RGB32);
    earlier.fill(qRgb(0, 160, 0));
    QDir().mkpath(home.dataFolder() + "images");
    PictureStepInput down = input("http://127.0.0.1:1/");
    down.showCode = false; // an unavailable site keeps its earlier picture

    ASSERT_TRUE(SavePictureWithCopy(earlier, pictureFile(4)));
    run(down);
    EXPECT_EQ(pixels(PngCopyPath(pictureFile(5)), "PNG"), earlier);
    EXPECT_TRUE(sameAsCopy(pictureFile(5)));

    // A picture stored before copies were written gets one when it is kept.
    for (const QString& path :
         {pictureFile(4), pictureFile(5), PngCopyPath(pictureFile(4)), PngCopyPath(pictureFile(5))})
        QFile::remove(path);
    ASSERT_TRUE(SaveBmp(earlier, pictureFile(4)));
    PictureStepInput newOnly = input(site.url("/file.zip"));
    site.setRawRoute("/file.zip", TestSite::response(200, "application/zip", "PK"));
    newOnly.newOnly = true;
    run(newOnly);
    EXPECT_EQ(pixels(pictureFile(5), "BMP"), earlier);
    EXPECT_TRUE(sameAsCopy(pictureFile(5)));
}

} // namespace
