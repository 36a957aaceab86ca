#pragma once
// Writes the pages the web server hands out, from the catalogue and the
// stylesheet files in the data folder.
//
// A stylesheet file is written from its built-in text only while it is
// missing, so a user's own copy is always used as it stands. Pages are
// replaced whole. Every failure of a described page is a PagesError that
// ends the run where it occurred: pages already written keep their new
// text, the rest their old. The overview's failure is only reported.
// Events are processed once, at the start of writeSupportPages(), and never
// while pages are being written, so the server (on the same thread) never
// hands out a half-written set.
#include "pages/builtin_texts.h"
#include "pages/pages_error.h"
#include "pages/xslt_engine.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace platform {
class SettingsModel;
}

namespace pages {

class PageWriter {
public:
    // portText gives the web server's port as text (bound into local links);
    // pumpEvents processes pending events (by default
    // QCoreApplication::processEvents). dataFolder defaults to
    // platform::dataFolder(), looked up at every run.
    PageWriter(const platform::SettingsModel& settings, std::function<QString()> portText,
               std::function<void()> pumpEvents = {}, QString dataFolder = {});

    // Where a failed addition to the pages (the overview) is told, as one
    // status line. Such a failure costs only that page: it never ends the
    // run or the start-up, and its error is logged where it is raised.
    void setAdditionFailureReport(std::function<void(const QString&)> report) {
        additionFailed_ = std::move(report);
    }

    // Frames, headers, footers, the change watcher and the placeholders, made
    // from the latest "listings.xml" (or the stand-by catalogue before the
    // first refresh run). Call at start-up once the server runs, and in every
    // refresh run right after "listings.xml" is saved.
    void writeSupportPages();
    // "overview.htm" from the same catalogue when it is missing: the
    // viewer's header links to it from the first start on, and each run
    // writes it anew. Call at start-up after writeSupportPages().
    void writeMissingOverview();

    // The view and edit pages, one of each or one of each per folder, and
    // "overview.htm" (see setAdditionFailureReport), from the catalogue text
    // just saved as "listings.xml".
    // Call after writeSupportPages() at the end of a refresh run.
    void writeCataloguePages(const QByteArray& catalogueText);

    // "history.htm" from the history catalogue text, by the same rules.
    void writeHistoryPage(const QByteArray& historyCatalogueText);

    // The stylesheet file's text; the built-in text is saved first when the
    // file is missing.
    QByteArray useStylesheet(const QString& fileName, BuiltinText builtin);

    // The catalogue the support pages are made from.
    const QByteArray& standbyCatalogue() const { return standby_; }

    // Lines as the folder list gives them: CR LF, LF or CR ends a line and a
    // final line break adds no empty line.
    static QStringList splitLines(const QString& text);

private:
    QString folder() const;
    void makeDataFolder() const;
    TransformSettings transformSettings() const;
    void writePage(const QString& name, const QByteArray& text);
    QByteArray readFile(const QString& name) const;
    void ensureStylesheet(const QString& fileName, BuiltinText builtin);
    void writeOverviewPage(const CatalogueDocument& catalogue);
    void writePerFolderPages(const CatalogueDocument& catalogue, const QString& sheetName,
                             BuiltinText builtin, const QStringList* folders, bool editPages);

    const platform::SettingsModel& settings_;
    std::function<QString()> portText_;
    std::function<void()> pumpEvents_;
    std::function<void(const QString&)> additionFailed_;
    QString dataFolder_;
    QByteArray standby_;
};

} // namespace pages
