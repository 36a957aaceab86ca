// Times the catalogue-page run for 10,000 favourites in 100 folders with a
// page per folder, then xsltproc doing the same transformations (the folder
// list, each folder's view and edit page, and the overview) over the same
// files.
#include "catalogue/catalogue_writer.h"
#include "pages/page_writer.h"
#include "pages/xslt_engine.h"
#include "platform/settings_model.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int folderCount = 100;
constexpr int linksPerFolder = 100;

const char* const siteProperties[] = {"PID_IS_URL",
                                      "PID_IS_NAME",
                                      "PID_IS_WORKINGDIR",
                                      "PID_IS_HOTKEY",
                                      "PID_IS_SHOWCMD",
                                      "PID_IS_ICONINDEX",
                                      "PID_IS_ICONFILE",
                                      "PID_IS_WHATSNEW",
                                      "PID_IS_AUTHOR",
                                      "PID_IS_DESCRIPTION",
                                      "PID_IS_COMMENT",
                                      "PID_INTSITE_WHATSNEW",
                                      "PID_INTSITE_AUTHOR",
                                      "PID_INTSITE_LASTVISIT",
                                      "PID_INTSITE_LASTMOD",
                                      "PID_INTSITE_VISITCOUNT",
                                      "PID_INTSITE_DESCRIPTION",
                                      "PID_INTSITE_COMMENT",
                                      "PID_INTSITE_FLAGS",
                                      "PID_INTSITE_CONTENTLEN",
                                      "PID_INTSITE_CONTENTCODE",
                                      "PID_INTSITE_RECURSE",
                                      "PID_INTSITE_WATCH",
                                      "PID_INTSITE_SUBSCRIPTION",
                                      "PID_INTSITE_URL",
                                      "PID_INTSITE_TITLE",
                                      "PID_INTSITE_CODEPAGE",
                                      "PID_INTSITE_TRACKING"};

QString location(int folder) {
    return folder == 0 ? QString() : QString("Topic %1\\Sub %2").arg(folder / 10).arg(folder);
}

QByteArray bigCatalogue() {
    catalogue::CatalogueText text;
    text.startListings(377735000, false);
    int picture = 0;
    for (int f = 0; f < folderCount; ++f) {
        text.openFolder(location(f));
        for (int l = 0; l < linksPerFolder; ++l) {
            const QString name = QString("Site %1-%2 & friends").arg(f).arg(l);
            const QByteArray url =
                QString("http://site%1-%2.example.invalid/index.html").arg(f).arg(l).toUtf8();
            QByteArray link = catalogue::LinkHeadPieces(
                "/home/user/Favorites/" + location(f).replace('\\', '/') + '/' + name + ".url", l,
                name);
            link += catalogue::PreCodePiece(200);
            for (const char* property : siteProperties)
                link += catalogue::PropertyPiece(property,
                                                 QByteArray(property).startsWith("PID_IS_URL") ||
                                                         QByteArray(property) == "PID_INTSITE_URL"
                                                     ? url
                                                     : QByteArray("value of ") + property);
            link += catalogue::VisitsPiece(l) + catalogue::CodePiece(200) +
                    catalogue::GivenTitlePiece("Title of " + name.toUtf8()) +
                    catalogue::ImagePiece("images\\" + QByteArray::number(++picture) + ".BMP");
            text.addLine(link + catalogue::LinkEnd());
        }
        text.closeFolder();
    }
    text.finish();
    return text.text();
}

double runXsltproc(const QString& xsltproc, const QString& data, const QString& out) {
    QElapsedTimer timer;
    timer.start();
    auto run = [&](const QStringList& args) {
        QProcess process;
        process.start(xsltproc, args);
        if (!process.waitForFinished(-1) || process.exitCode() != 0) {
            std::fprintf(stderr, "xsltproc failed: %s\n",
                         process.readAllStandardError().constData());
            std::exit(1);
        }
    };
    const QString listings = data + "listings.xml";
    run({"-o", out + "folders.txt", data + "folders.xsl", listings});
    QFile list(out + "folders.txt");
    list.open(QIODevice::ReadOnly);
    const QStringList folders = pages::PageWriter::splitLines(QString::fromUtf8(list.readAll()));
    for (const char* sheet : {"view", "edit"}) {
        int n = 0;
        for (const QString& folder : folders) {
            QStringList args = {"--stringparam", "multi_page", "yes"};
            if (!folder.isEmpty())
                args << "--stringparam"
                     << "p1" << folder;
            args << "-o" << out + sheet + QString::number(n++) + ".htm" << data + sheet + ".xsl"
                 << listings;
            run(args);
        }
    }
    run({"-o", out + "overview.htm", data + "overview.xsl", listings});
    return timer.elapsed() / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString xsltproc = QStandardPaths::findExecutable("xsltproc");
    QTemporaryDir dir;
    const QString data = dir.path() + "/data/";
    const QString out = dir.path() + "/xsltproc/";
    QDir().mkpath(data);
    QDir().mkpath(out);

    platform::SettingsModel settings;
    settings.newPage = true;
    pages::PageWriter writer(
        settings, [] { return QString("80"); }, [] {}, data);

    const QByteArray text = bigCatalogue();
    QFile listings(data + "listings.xml");
    listings.open(QIODevice::WriteOnly);
    listings.write(text);
    listings.close();
    std::printf("catalogue: %d favourites in %d folders, %.1f MB\n", folderCount * linksPerFolder,
                folderCount, text.size() / 1e6);

    writer.writeSupportPages(); // writes the stylesheet files both sides use
    std::vector<double> ours;
    pages::EngineCounters last{};
    for (int i = 0; i < 3; ++i) {
        const pages::EngineCounters before = pages::engineCounters();
        QElapsedTimer timer;
        timer.start();
        writer.writeCataloguePages(text);
        ours.push_back(timer.elapsed() / 1000.0);
        const pages::EngineCounters after = pages::engineCounters();
        last = {after.cataloguesParsed - before.cataloguesParsed,
                after.stylesheetsParsed - before.stylesheetsParsed,
                after.transforms - before.transforms};
    }
    std::sort(ours.begin(), ours.end());
    std::printf("WriteCataloguePages: %.2f s (median of 3; catalogue parsed %d time(s), "
                "stylesheets %d, transforms %d)\n",
                ours[1], last.cataloguesParsed, last.stylesheetsParsed, last.transforms);
    if (last.cataloguesParsed != 1 || last.stylesheetsParsed != 4) {
        std::fprintf(stderr, "the catalogue and each stylesheet must be parsed once per run\n");
        return 1;
    }

    if (xsltproc.isEmpty()) {
        std::printf("xsltproc: not installed, no comparison\n");
        return 0;
    }
    const double theirs = runXsltproc(xsltproc, data, out);
    std::printf("xsltproc, same %d transforms: %.2f s\n", last.transforms, theirs);
    std::printf("ratio xsltproc / ours: %.1f\n", theirs / ours[1]);
    return ours[1] <= theirs ? 0 : 2;
}
