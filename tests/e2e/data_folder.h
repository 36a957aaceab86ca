#pragma once
// What the program left in the data folder of a temporary HOME: the
// picture files, and the pictures that its pages show.
#include "catalogue_reader.h"
#include "support/temp_home.h"

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>

namespace e2e {

// The bytes of a file; empty when it cannot be read.
QByteArray fileBytes(const QString& path);

// Every picture file below images/, by path relative to the data folder
// ("images/NAME.BMP"), with its bytes.
QMap<QString, QByteArray> pictureFiles(const testsupport::TempHome& home);

// The pictures that the .htm pages in the data folder show, as paths
// relative to the data folder, each once.
QStringList picturesShownByPages(const testsupport::TempHome& home);

// The catalogue the program saved last; a test failure when it is not
// well-formed.
QList<CatalogueFolder> savedCatalogue(const testsupport::TempHome& home);

// The picture a favourite's IMAGE names; a null image when there is none.
QImage pictureOf(const testsupport::TempHome& home, const CatalogueLink& link);

} // namespace e2e
