#include "catalogue/catalogue_writer.h"

#include "catalogue/encodings.h"
#include "platform/file_replace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace catalogue {

namespace {

const QByteArray PieceEnd = "\n\r";
const QByteArray LineEnd = "\r\n";
const QByteArray XmlDeclaration = R"(<?xml version="1.0" encoding="utf-8"?>)";

QByteArray quoted(const QByteArray& value) {
    return '"' + value + '"';
}

} // namespace

QByteArray JoinLines(const LineList& lines) {
    qsizetype size = 0;
    for (const QByteArray& line : lines)
        size += line.size() + 2;
    QByteArray text;
    text.reserve(size);
    for (const QByteArray& line : lines)
        text += line + LineEnd;
    return text;
}

QByteArray startup_XML() {
    return JoinLines({XmlDeclaration, "<BROWSERINFO ", R"(Time="1")", R"(HomePage="No">)",
                      "<Favoritesfolder>", R"(<Folder Location = "">)", "<Link ></Link>",
                      "</Folder>", "</Favoritesfolder>", "</BROWSERINFO>"});
}

QString DescriptionOf(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf('.');
    return dot < 0 ? fileName : fileName.left(dot);
}

QByteArray LinkHeadPieces(const QString& shortcutPath, int sortOrder, const QString& description) {
    return "<Link " + PieceEnd +                                                             //
           "UNIQUE=" + quoted(HexEncode(QFile::encodeName(shortcutPath))) + " " + PieceEnd + //
           R"(BROWSER="IE")" + PieceEnd +                                                    //
           "SORT_ORDER=" + quoted(QByteArray::number(sortOrder)) + PieceEnd +                //
           "DESCRIPTION=" + quoted(EscapeQuotedValue(description.toUtf8())) + " " + PieceEnd;
}

QByteArray PreCodePiece(int code) {
    return "PRECODE = " + quoted(QByteArray::number(code)) + " " + PieceEnd;
}

QByteArray PropertyPiece(const QByteArray& name, const QByteArray& utf8Value) {
    return name + "=" + quoted(EscapeQuotedValue(utf8Value)) + PieceEnd;
}

QByteArray VisitsPiece(qint64 visits) {
    return "VISITS=" + quoted(QByteArray::number(visits)) + PieceEnd;
}

QByteArray CodePiece(int code) {
    return "CODE = " + quoted(QByteArray::number(code)) + " " + PieceEnd;
}

QByteArray GivenTitlePiece(const QByteArray& utf8Title) {
    return "GIVEN_TITLE = " + quoted(EscapeQuotedValue(utf8Title)) + " " + PieceEnd;
}

QByteArray ImagePiece(const QByteArray& relativePicturePath) {
    return "IMAGE =" + quoted(relativePicturePath) + " " + PieceEnd;
}

QByteArray LinkEnd() {
    return "></Link>";
}

void CatalogueText::startListings(qint64 timeValue, bool homePage) {
    clear();
    lines_ << XmlDeclaration << "<BROWSERINFO "
           << "Time=" + quoted(QByteArray::number(timeValue))
           << (homePage ? R"(HomePage="YES">)" : R"(HomePage="No">)") << "<Favoritesfolder>";
}

void CatalogueText::startHistory(qint64 timeValue) {
    clear();
    history_ = true;
    lines_ << XmlDeclaration << "<BROWSERINFO "
           << "Time=" + quoted(QByteArray::number(timeValue)) + ">"
           << "<History>";
}

void CatalogueText::openFolder(const QString& location) {
    lines_ << "<Folder Location = " + quoted(EscapeQuotedValue(location.toUtf8())) + ">";
    folderOpen_ = true;
}

void CatalogueText::closeFolder() {
    if (!folderOpen_)
        return;
    lines_ << "</Folder>";
    folderOpen_ = false;
}

void CatalogueText::addHistoryLink(const QByteArray& utf8Title, const QByteArray& workerText) {
    lines_ << "<Link "
           << R"(BROWSER="IE")"
           << "DESCRIPTION=" + quoted(EscapeQuotedValue(utf8Title)) + " " << workerText
           << LinkEnd();
}

void CatalogueText::finish() {
    closeFolder();
    lines_ << (history_ ? "</History>" : "</Favoritesfolder>") << "</BROWSERINFO>";
}

void CatalogueText::clear() {
    lines_.clear();
    folderOpen_ = false;
    history_ = false;
}

bool SaveCatalogue(const QString& filePath, const QByteArray& text, QString* error) {
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Unable to create %1").arg(folder);
        return false;
    }
    return platform::replaceFileWhole(filePath, text, error);
}

} // namespace catalogue
