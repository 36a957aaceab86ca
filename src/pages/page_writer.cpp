#include "pages/page_writer.h"

#include "pages/folder_page_names.h"
#include "pages/start_page.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/settings_model.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pages {

namespace {

struct SupportPage {
    const char* name; // stylesheet <name>.xsl gives page <name>.htm
    BuiltinText builtin;
};

// The order in which the support pages are written.
constexpr SupportPage supportPages[] = {
    {"editor", BuiltinText::EditFrame},       {"edit_header", BuiltinText::EditHead},
    {"edit_footer", BuiltinText::EditFooter}, {"viewer", BuiltinText::ViewFrame},
    {"view_footer", BuiltinText::ViewHead},   {"view_header", BuiltinText::ViewHead},
};

struct Placeholder {
    const char* name;
    BuiltinText builtin;
};

constexpr Placeholder placeholders[] = {
    {"view.htm", BuiltinText::NotRunPage},
    {"edit.htm", BuiltinText::NotRunPage},
    {"history.htm", BuiltinText::NotRunHistory},
};

} // namespace

PageWriter::PageWriter(const platform::SettingsModel& settings, std::function<QString()> portText,
                       std::function<void()> pumpEvents, QString dataFolder)
    : settings_(settings), portText_(std::move(portText)), pumpEvents_(std::move(pumpEvents)),
      dataFolder_(std::move(dataFolder)), standby_(builtinText(BuiltinText::StandbyCatalogue)) {
    if (!pumpEvents_)
        pumpEvents_ = [] {
            if (QCoreApplication::instance())
                QCoreApplication::processEvents();
        };
}

QString PageWriter::folder() const {
    QString path = dataFolder_.isEmpty() ? platform::dataFolder() : dataFolder_;
    if (!path.endsWith('/'))
        path += '/';
    return path;
}

TransformSettings PageWriter::transformSettings() const {
    return {settings_.newPage, portText_ ? portText_() : settings_.port};
}

void PageWriter::writePage(const QString& name, const QByteArray& text) {
    QString error;
    if (!platform::replaceFileWhole(folder() + name, withCrLfLines(text), &error))
        throw PagesError(QStringLiteral("Unable to write %1").arg(error));
}

QByteArray PageWriter::readFile(const QString& name) const {
    QFile file(folder() + name);
    if (!file.open(QIODevice::ReadOnly))
        throw PagesError(
            QStringLiteral("Unable to read %1: %2").arg(file.fileName(), file.errorString()));
    return file.readAll();
}

void PageWriter::ensureStylesheet(const QString& fileName, BuiltinText builtin) {
    if (!QFileInfo::exists(folder() + fileName))
        writePage(fileName, builtinText(builtin));
}

QByteArray PageWriter::useStylesheet(const QString& fileName, BuiltinText builtin) {
    ensureStylesheet(fileName, builtin);
    return readFile(fileName);
}

QStringList PageWriter::splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != '\n' && c != '\r')
            continue;
        lines << text.mid(start, i - start);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

void PageWriter::makeDataFolder() const {
    const QString dir = folder();
    if (!QDir().mkpath(dir))
        throw PagesError(QStringLiteral("Unable to create the folder %1").arg(dir));
}

void PageWriter::writeSupportPages() {
    makeDataFolder();
    pumpEvents_();
    const QString dir = folder();

    if (QFileInfo::exists(dir + "listings.xml"))
        standby_ = readFile("listings.xml");

    const TransformSettings settings = transformSettings();
    const CatalogueDocument catalogue(standby_, QStringLiteral("listings.xml"));
    for (const SupportPage& page : supportPages) {
        const QString name = QLatin1String(page.name);
        const Stylesheet sheet(useStylesheet(name + ".xsl", page.builtin), name + ".xsl");
        writePage(name + ".htm", transform(catalogue, sheet, {}, settings));
    }

    for (const Placeholder& page : placeholders) {
        const QString name = QLatin1String(page.name);
        if (!QFileInfo::exists(dir + name))
            writePage(name, bindLocalLinks(builtinText(page.builtin), settings.port));
    }

    const Stylesheet reloader(useStylesheet("reloader.xsl", BuiltinText::Reloader), "reloader.xsl");
    writePage("reloader.htm", transform(catalogue, reloader, {}, settings));
}

void PageWriter::writeMissingOverview() {
    if (QFileInfo::exists(folder() + "overview.htm"))
        return;
    try {
        writeOverviewPage(CatalogueDocument(standby_, QStringLiteral("listings.xml")));
    } catch (const PagesError&) {
        // A catalogue that does not parse has already failed the support pages.
    }
}

void PageWriter::writeOverviewPage(const CatalogueDocument& catalogue) {
    // The overview only adds to the pages the run is there for: a copy of
    // overview.xsl that does not work leaves the last overview page and
    // says so, and everything else goes on.
    try {
        const Stylesheet sheet(useStylesheet("overview.xsl", BuiltinText::Overview),
                               "overview.xsl");
        writePage("overview.htm", transform(catalogue, sheet, {}, transformSettings()));
    } catch (const PagesError& error) {
        if (additionFailed_)
            additionFailed_(QStringLiteral("Overview page not written: ") + error.message());
    }
}

void PageWriter::writePerFolderPages(const CatalogueDocument& catalogue, const QString& sheetName,
                                     BuiltinText builtin, const QStringList* folders,
                                     bool editPages) {
    const TransformSettings settings = transformSettings();
    const Stylesheet sheet(useStylesheet(sheetName, builtin), sheetName);
    if (!folders) {
        writePage(editPages ? "edit.htm" : "view.htm", transform(catalogue, sheet, {}, settings));
        return;
    }
    const std::vector<FolderPages> named = folderPageNames(*folders);
    for (const FolderPages& pages : named)
        writePage(editPages ? pages.editPage : pages.viewPage,
                  transform(catalogue, sheet, pages.location, settings));
    // Without a top folder no stylesheet writes the page shown first; a page
    // promising an update that never comes would stay there.
    if (needsStartPage(named))
        writePage(editPages ? "edit.htm" : "view.htm", startPageText(named, editPages));
}

void PageWriter::writeCataloguePages(const QByteArray& catalogueText) {
    makeDataFolder();
    const CatalogueDocument catalogue(catalogueText, QStringLiteral("listings.xml"));
    const bool perFolder = settings_.newPage;

    ensureStylesheet("view.xsl", BuiltinText::View);
    QStringList folders;
    if (perFolder) {
        const Stylesheet list(useStylesheet("folders.xsl", BuiltinText::Folders), "folders.xsl");
        folders =
            splitLines(QString::fromUtf8(transform(catalogue, list, {}, transformSettings())));
    }
    writePerFolderPages(catalogue, "view.xsl", BuiltinText::View, perFolder ? &folders : nullptr,
                        false);

    ensureStylesheet("edit.xsl", BuiltinText::Edit);
    writePerFolderPages(catalogue, "edit.xsl", BuiltinText::Edit, perFolder ? &folders : nullptr,
                        true);

    writeOverviewPage(catalogue);
}

void PageWriter::writeHistoryPage(const QByteArray& historyCatalogueText) {
    makeDataFolder();
    const CatalogueDocument catalogue(historyCatalogueText, QStringLiteral("history.xml"));
    const Stylesheet sheet(useStylesheet("history.xsl", BuiltinText::History), "history.xsl");
    writePage("history.htm", transform(catalogue, sheet, {}, transformSettings()));
}

} // namespace pages
