#pragma once
// Helpers shared by the page tests: catalogues written by the real catalogue
// writer, and a parsed HTML page that answers XPath questions.
#include "catalogue/catalogue_writer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include <memory>
#include <ostream>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace pagetest {

struct Favourite {
    Favourite(QString shownName, QString pageUrl, QString picture, int httpCode = 200,
              QString pageTitle = {})
        : name(std::move(shownName)), url(std::move(pageUrl)), image(std::move(picture)),
          code(httpCode), title(std::move(pageTitle)) {}

    QString name;
    QString url;
    QString image; // relative picture path, e.g. images\1.BMP
    int code;
    QString title; // the page title, none when empty
};

struct Folder {
    QString location; // backslash form, empty for the Favorites folder
    QList<Favourite> favourites;
};

inline QByteArray catalogueText(qint64 time, bool homePage, const QList<Folder>& folders) {
    catalogue::CatalogueText text;
    text.startListings(time, homePage);
    int serial = 0;
    for (const Folder& folder : folders) {
        text.openFolder(folder.location);
        for (const Favourite& favourite : folder.favourites) {
            QString path = "/home/u/Favorites/" + folder.location + '/' + favourite.name + ".url";
            path.replace('\\', '/');
            QByteArray link = catalogue::LinkHeadPieces(path, serial++, favourite.name) +
                              catalogue::PreCodePiece(200) +
                              catalogue::PropertyPiece("PID_IS_URL", favourite.url.toUtf8()) +
                              catalogue::VisitsPiece(0) + catalogue::CodePiece(favourite.code);
            if (!favourite.title.isEmpty())
                link += catalogue::GivenTitlePiece(favourite.title.toUtf8());
            if (!favourite.image.isEmpty())
                link += catalogue::ImagePiece(favourite.image.toUtf8());
            text.addLine(link + catalogue::LinkEnd());
        }
        text.closeFolder();
    }
    text.finish();
    return text.text();
}

// n favourites named <prefix>1 .. <prefix>n.
inline QList<Favourite> favourites(const QString& prefix, int n) {
    QList<Favourite> list;
    for (int i = 1; i <= n; ++i)
        list.append({prefix + QString::number(i),
                     "http://example.invalid/" + prefix + QString::number(i),
                     "images\\" + QString::number(i) + ".BMP"});
    return list;
}

// An HTML page parsed as a browser-like tree; queries are XPath 1.0.
class Html {
public:
    explicit Html(const QByteArray& page)
        : doc_(htmlReadMemory(page.constData(), int(page.size()), nullptr, "UTF-8",
                              HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET),
               xmlFreeDoc) {}

    bool ok() const { return doc_ != nullptr; }

    // Element and attribute names are lower-cased by the HTML parser.
    int count(const QString& xpath) const {
        const auto result = eval(xpath);
        return result && result->nodesetval ? result->nodesetval->nodeNr : 0;
    }

    QString text(const QString& xpath) const {
        const auto result = eval("string(" + xpath + ")");
        return result ? QString::fromUtf8(reinterpret_cast<const char*>(result->stringval))
                      : QString();
    }

    QStringList texts(const QString& xpath) const {
        QStringList out;
        const auto result = eval(xpath);
        if (!result || !result->nodesetval)
            return out;
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlChar* content = xmlNodeGetContent(result->nodesetval->nodeTab[i]);
            out << QString::fromUtf8(reinterpret_cast<const char*>(content));
            xmlFree(content);
        }
        return out;
    }

private:
    std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> eval(const QString& xpath) const {
        std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> none(nullptr,
                                                                          xmlXPathFreeObject);
        if (!doc_)
            return none;
        std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> context(
            xmlXPathNewContext(doc_.get()), xmlXPathFreeContext);
        const QByteArray expression = xpath.toUtf8();
        return {xmlXPathEvalExpression(BAD_CAST expression.constData(), context.get()),
                xmlXPathFreeObject};
    }

    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc_;
};

} // namespace pagetest
