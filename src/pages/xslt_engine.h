#pragma once
// The XSLT engine: libxslt over libxml2, in process.
//
// A catalogue and a stylesheet are parsed once into a CatalogueDocument and a
// Stylesheet and can then be used for any number of pages. Every failure is
// a PagesError carrying the engine's own message.
#include "pages/pages_error.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace pages {

// What every transformation of one run is given besides its documents.
struct TransformSettings {
    bool multiPage = false; // "New Page per Folder": passes multi_page = "yes"
    QString port;           // bound into every "http://localhost/" of the output
};

class CatalogueDocument {
public:
    // `name` only labels error messages.
    CatalogueDocument(const QByteArray& text, const QString& name);
    ~CatalogueDocument();
    CatalogueDocument(const CatalogueDocument&) = delete;
    CatalogueDocument& operator=(const CatalogueDocument&) = delete;

    void* handle() const { return doc_; } // xmlDocPtr

private:
    void* doc_ = nullptr;
};

class Stylesheet {
public:
    Stylesheet(const QByteArray& text, const QString& name);
    ~Stylesheet();
    Stylesheet(const Stylesheet&) = delete;
    Stylesheet& operator=(const Stylesheet&) = delete;

    const QString& name() const { return name_; }
    void* handle() const { return sheet_; } // xsltStylesheetPtr

private:
    void* sheet_ = nullptr;
    QString name_;
};

// Runs the stylesheet over the catalogue and returns the page as the bytes of
// the stylesheet's output encoding. "p1" is passed only for a non-empty
// folder text, as a literal string whatever quotes it holds.
QByteArray transform(const CatalogueDocument& catalogue, const Stylesheet& stylesheet,
                     const QString& folder, const TransformSettings& settings);

// Parses both texts and transforms once.
QByteArray doTransform(const QByteArray& catalogueText, const QByteArray& stylesheetText,
                       const QString& folder, const TransformSettings& settings);

// Every "http://localhost/" (exactly that text) becomes "http://localhost:<port>/".
QByteArray bindLocalLinks(QByteArray page, const QString& port);

// Counts of engine work since start, so callers and benchmarks can see that
// documents are parsed once per run.
struct EngineCounters {
    int cataloguesParsed = 0;
    int stylesheetsParsed = 0;
    int transforms = 0;
};
EngineCounters engineCounters();

// The engine is set up on first use. When that fails the user is told, the
// application is asked to quit, and the operation fails.
void ensureEngineReady();
// Makes the set-up fail from now on (true) or work again (false), so the
// failure path can be exercised.
void simulateEngineSetupFailure(bool fail);

} // namespace pages
