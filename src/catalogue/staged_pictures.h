#pragma once
// Where work ahead of the refresh run keeps its pictures until the run takes
// the favourite: a folder of this process's own below the cache folder,
// outside the folder the web server serves, so no page shows a picture the
// run has not taken. The folder goes with its owner; folders left by a
// process that was killed are removed when the next one is made.
#include <QString>

namespace catalogue {

class StagedPictures {
public:
    StagedPictures();
    ~StagedPictures();
    StagedPictures(const StagedPictures&) = delete;
    StagedPictures& operator=(const StagedPictures&) = delete;

    // The folder, ending in "/"; pictures lie below it at the path they
    // will have below the data folder.
    const QString& folder() const { return folder_; }

    // Moves the picture at relative (backslash form) with its copies into
    // dataFolder. True when there was none; false, with the reason in
    // error, when it could not be moved.
    bool publish(const QString& relative, const QString& dataFolder, QString* error) const;
    // Removes the picture at relative with its copies.
    void discard(const QString& relative) const;

    // The folder that holds every process's staging folder (tests).
    static QString root();

private:
    QString folder_;
};

} // namespace catalogue
