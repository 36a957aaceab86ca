#include "pages/xslt_engine.h"

#include "platform/message_service.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QStringList>

#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>
#include <cstdio>

namespace pages {

namespace {

const char* const engineSetupMessage =
    "Unable to initialise the XML engine.\n\rPlease run the program XMLReady\n\rThis can be "
    "found off your Start button, at |Programs|Pagorama|Technical Support.";

EngineCounters counters;
bool setupFails = false;
bool engineSetUp = false;

// Collects every message the engine reports while it is alive, and puts the
// previous handlers back afterwards.
class ErrorCapture {
public:
    ErrorCapture()
        : oldXsltFunc_(xsltGenericError), oldXsltContext_(xsltGenericErrorContext),
          oldXmlFunc_(xmlGenericError), oldXmlContext_(xmlGenericErrorContext),
          oldStructured_(xmlStructuredError), oldStructuredContext_(xmlStructuredErrorContext) {
        xsltSetGenericErrorFunc(this, &ErrorCapture::generic);
        xmlSetGenericErrorFunc(this, &ErrorCapture::generic);
        xmlSetStructuredErrorFunc(this, &ErrorCapture::structured);
    }
    ~ErrorCapture() {
        xsltSetGenericErrorFunc(oldXsltContext_, oldXsltFunc_);
        xmlSetGenericErrorFunc(oldXmlContext_, oldXmlFunc_);
        xmlSetStructuredErrorFunc(oldStructuredContext_, oldStructured_);
    }
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    static void generic(void* self, const char* format, ...) {
        char buffer[2048];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        static_cast<ErrorCapture*>(self)->append(QString::fromUtf8(buffer));
    }

#if LIBXML_VERSION >= 21200
    static void structured(void* self, const xmlError* error) {
#else
    static void structured(void* self, xmlErrorPtr error) {
#endif
        if (!error || !error->message)
            return;
        QString text = QString::fromUtf8(error->message).trimmed();
        if (error->line > 0)
            text = QString("line %1: %2").arg(error->line).arg(text);
        static_cast<ErrorCapture*>(self)->append(text + '\n');
    }

    // The collected text, one message per line, kept to a readable length.
    QString text() const {
        QStringList lines;
        for (const QString& line : pending_.split('\n', Qt::SkipEmptyParts))
            if (!line.trimmed().isEmpty())
                lines << line.trimmed();
        QString joined = lines.join("; ");
        if (joined.size() > 2000)
            joined = joined.left(2000) + "...";
        return joined;
    }

private:
    void append(const QString& piece) {
        if (pending_.size() < 100000)
            pending_ += piece;
    }

    QString pending_;
    xmlGenericErrorFunc oldXsltFunc_;
    void* oldXsltContext_;
    xmlGenericErrorFunc oldXmlFunc_;
    void* oldXmlContext_;
    xmlStructuredErrorFunc oldStructured_;
    void* oldStructuredContext_;
};

[[noreturn]] void fail(const QString& what, const ErrorCapture& capture) {
    const QString detail = capture.text();
    throw PagesError(detail.isEmpty() ? what : what + ": " + detail);
}

xmlDocPtr parseDocument(const QByteArray& text, const QString& name, int options) {
    ErrorCapture capture;
    xmlDocPtr doc = xmlReadMemory(text.constData(), int(text.size()), nullptr, nullptr, options);
    if (!doc)
        fail(name + " is not well-formed XML", capture);
    return doc;
}

// Transformations never reach beyond this machine.
xsltSecurityPrefsPtr localOnlyPrefs() {
    static xsltSecurityPrefsPtr prefs = [] {
        xsltSecurityPrefsPtr p = xsltNewSecurityPrefs();
        xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        return p;
    }();
    return prefs;
}

} // namespace

void simulateEngineSetupFailure(bool fail) {
    setupFails = fail;
    engineSetUp = false;
}

void ensureEngineReady() {
    if (engineSetUp)
        return;
    bool ready = !setupFails;
    if (ready) {
        xmlInitParser();
        xsltInit();
        exsltRegisterAll();
        ready = localOnlyPrefs() != nullptr;
    }
    if (!ready) {
        platform::showMessage(QString::fromLatin1(engineSetupMessage), QStringLiteral("Pagorama"),
                              platform::MessageKind::Warning);
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
        throw PagesError(QStringLiteral("Unable to initialise the XML engine."));
    }
    engineSetUp = true;
}

CatalogueDocument::CatalogueDocument(const QByteArray& text, const QString& name) {
    ensureEngineReady();
    // Catalogues of many thousand favourites pass the parser's default
    // safety limit on input size; this text is the program's own.
    doc_ = parseDocument(text, name, XML_PARSE_NONET | XML_PARSE_HUGE);
    ++counters.cataloguesParsed;
}

CatalogueDocument::~CatalogueDocument() {
    xmlFreeDoc(static_cast<xmlDocPtr>(doc_));
}

Stylesheet::Stylesheet(const QByteArray& text, const QString& name) : name_(name) {
    ensureEngineReady();
    xmlDocPtr doc = parseDocument(text, name, XSLT_PARSE_OPTIONS | XML_PARSE_NONET);
    ErrorCapture capture;
    // The compiled stylesheet owns the document from here on, also on failure.
    xsltStylesheetPtr sheet = xsltParseStylesheetDoc(doc);
    if (!sheet) {
        xmlFreeDoc(doc);
        fail(name + " is not a usable stylesheet", capture);
    }
    if (sheet->errors > 0) {
        xsltFreeStylesheet(sheet);
        fail(name + " is not a usable stylesheet", capture);
    }
    sheet_ = sheet;
    ++counters.stylesheetsParsed;
}

Stylesheet::~Stylesheet() {
    xsltFreeStylesheet(static_cast<xsltStylesheetPtr>(sheet_));
}

QByteArray transform(const CatalogueDocument& catalogue, const Stylesheet& stylesheet,
                     const QString& folder, const TransformSettings& settings) {
    ensureEngineReady();
    auto* sheet = static_cast<xsltStylesheetPtr>(stylesheet.handle());
    auto* doc = static_cast<xmlDocPtr>(catalogue.handle());
    ErrorCapture capture;

    xsltTransformContextPtr context = xsltNewTransformContext(sheet, doc);
    if (!context)
        fail(stylesheet.name() + ": the transformation could not be set up", capture);
    struct ContextOwner {
        xsltTransformContextPtr context;
        ~ContextOwner() { xsltFreeTransformContext(context); }
    } owner{context};
    xsltSetCtxtSecurityPrefs(localOnlyPrefs(), context);
    xsltSetTransformErrorFunc(context, &capture, &ErrorCapture::generic);

    // Literal strings, never XPath: a folder may hold quotes of both kinds.
    if (settings.multiPage)
        xsltQuoteOneUserParam(context, BAD_CAST "multi_page", BAD_CAST "yes");
    if (!folder.isEmpty()) {
        const QByteArray value = folder.toUtf8();
        xsltQuoteOneUserParam(context, BAD_CAST "p1", BAD_CAST value.constData());
    }

    xmlDocPtr result = xsltApplyStylesheetUser(sheet, doc, nullptr, nullptr, nullptr, context);
    struct ResultOwner {
        xmlDocPtr doc;
        ~ResultOwner() { xmlFreeDoc(doc); }
    } resultOwner{result};
    if (!result || context->state == XSLT_STATE_ERROR || context->state == XSLT_STATE_STOPPED)
        fail(stylesheet.name() + ": the transformation failed", capture);

    xmlChar* bytes = nullptr;
    int length = 0;
    if (xsltSaveResultToString(&bytes, &length, result, sheet) != 0)
        fail(stylesheet.name() + ": the page could not be written out", capture);
    QByteArray page(reinterpret_cast<const char*>(bytes), bytes ? length : 0);
    xmlFree(bytes);
    ++counters.transforms;
    return bindLocalLinks(std::move(page), settings.port);
}

QByteArray doTransform(const QByteArray& catalogueText, const QByteArray& stylesheetText,
                       const QString& folder, const TransformSettings& settings) {
    const CatalogueDocument catalogue(catalogueText, QStringLiteral("catalogue"));
    const Stylesheet stylesheet(stylesheetText, QStringLiteral("stylesheet"));
    return transform(catalogue, stylesheet, folder, settings);
}

QByteArray bindLocalLinks(QByteArray page, const QString& port) {
    return page.replace("http://localhost/", "http://localhost:" + port.toUtf8() + "/");
}

EngineCounters engineCounters() {
    return counters;
}

} // namespace pages
