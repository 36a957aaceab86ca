#pragma once
// Removes the pictures that no saved catalogue shows any more. A run that
// fails after saving its catalogue, or is stopped before its clean-up, can
// leave pictures that no later run would otherwise remove; a good run
// removes all of them at once.
#include <QByteArray>
#include <QList>
#include <QString>

namespace catalogue {

// Deletes from dataFolder's "images" and "images/history" folders every
// picture file (".BMP" and its ".png" copy, any letter case, whose name
// starts with a run's counter in hexadecimal) whose name up to its first
// dot is not that of a picture named by an IMAGE value of the catalogue
// texts. Other files are left alone. True when every such picture is gone.
bool RemovePicturesNotNamedBy(const QString& dataFolder, const QList<QByteArray>& catalogues);

} // namespace catalogue
