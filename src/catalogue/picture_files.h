#pragma once
// The files of one stored picture: the BMP the catalogue names, its PNG copy
// of the same pixels for pages that show many pictures at once, and a large
// PNG copy at three times the size for sharp display on dense screens and
// for larger cards. The three are made, carried from run to run and removed
// together here, so no copy outlives or outdates its BMP.
#include "catalogue/thumbnail_size.h"

#include <QImage>
#include <QString>
#include <QStringList>

namespace catalogue {

class PictureFiles {
public:
    explicit PictureFiles(QString bmpPath);

    const QString& bmp() const { return bmp_; }
    QString pngCopy() const;
    QString largeCopy() const;
    // Every file of the set, the BMP first.
    QStringList all() const;

    bool exists() const; // the BMP is there

    // Writes the BMP, then its copies. large is the same view at three
    // times the size; a null one is made from the picture by scaling (cards
    // and icons drawn at the stored size). Copies from an earlier picture go
    // first, and a copy that cannot be written is left out: pages then fall
    // back to the BMP. The result is the BMP's.
    bool save(const QImage& picture, const QImage& large = {}, QString* error = nullptr) const;

    // Copies the whole set of another picture over this one; copies that
    // set lacks (a picture kept from before they were written) are made
    // from this BMP. False when the BMP could not be copied.
    bool carryFrom(const PictureFiles& from) const;

    // Moves the whole set over target's: target's copies go first, then
    // the BMP and each copy this set has replace target's. False, with the
    // reason in error, when the BMP could not be moved.
    bool moveTo(const PictureFiles& target, QString* error = nullptr) const;

    // Makes the copies this BMP lacks. False when the BMP cannot be read.
    bool completeCopies() const;

    // Removes every file of the set.
    void remove() const;

    // The masks that match the files of every picture whose name starts
    // with prefix.
    static QStringList masksFor(const QString& prefix);

private:
    QString bmp_;
};

} // namespace catalogue
