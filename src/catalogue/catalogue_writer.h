#pragma once
// The text of the catalogue files listings.xml and history.xml. A catalogue
// is a list of lines, each written with CR LF; a Link element is one entry
// of the list whose pieces are separated by LF CR, so in the file it spans
// several physical lines. The spacing of every piece is part of the format.
#include <QByteArray>
#include <QList>
#include <QString>

namespace catalogue {

using LineList = QList<QByteArray>;

// Every line followed by CR LF, the last one included.
QByteArray JoinLines(const LineList& lines);

// The catalogue used before the first run has written one: a root folder
// holding one empty Link.
QByteArray startup_XML();

// The favourite's name as the catalogue shows it: the file name without its
// last extension.
QString DescriptionOf(const QString& fileName);

// Pieces of a Link element, each ending in LF CR.
QByteArray LinkHeadPieces(const QString& shortcutPath, int sortOrder, const QString& description);
QByteArray PreCodePiece(int code);
// name="value" with the value escaped for use inside quotes.
QByteArray PropertyPiece(const QByteArray& name, const QByteArray& utf8Value);
QByteArray VisitsPiece(qint64 visits);
QByteArray CodePiece(int code);
QByteArray GivenTitlePiece(const QByteArray& utf8Title);
QByteArray ImagePiece(const QByteArray& relativePicturePath);
QByteArray LinkEnd();

// Builds the line list of one catalogue.
class CatalogueText {
public:
    // listings.xml: lines up to and including <Favoritesfolder>.
    void startListings(qint64 timeValue, bool homePage);
    // history.xml: lines up to and including <History>.
    void startHistory(qint64 timeValue);

    // <Folder Location = "L">; location is relative to the Favorites folder
    // in backslash form, empty for the Favorites folder itself.
    void openFolder(const QString& location);
    // </Folder>, written only when a folder is open.
    void closeFolder();
    bool folderOpen() const { return folderOpen_; }

    // One Link element (or any other line) as one entry of the list.
    void addLine(const QByteArray& line) { lines_ << line; }
    // A history Link: its opening lines, the text the worker produced for the
    // entry, and the closing line.
    void addHistoryLink(const QByteArray& utf8Title, const QByteArray& workerText);

    // Closes an open folder and the root: the closing lines of the variant
    // that was started.
    void finish();

    const LineList& lines() const { return lines_; }
    QByteArray text() const { return JoinLines(lines_); }
    void clear();

private:
    LineList lines_;
    bool folderOpen_ = false;
    bool history_ = false;
};

// Creates the file's folder when missing and replaces the file whole (a
// failed write leaves the old catalogue in place). Returns false with the
// reason in *error on failure.
bool SaveCatalogue(const QString& filePath, const QByteArray& text, QString* error = nullptr);

} // namespace catalogue
