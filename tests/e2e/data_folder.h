#pragma once
// What the program left in the data folder of a temporary HOME: the
// picture files, and the pictures that its pages show.
#include "support/temp_home.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace e2e {

// Every picture file below images/, by path relative to the data folder
// ("images/NAME.BMP"), with its bytes.
QMap<QString, QByteArray> pictureFiles(const testsupport::TempHome& home);

// The pictures that the .htm pages in the data folder show, as paths
// relative to the data folder, each once.
QStringList picturesShownByPages(const testsupport::TempHome& home);

} // namespace e2e
