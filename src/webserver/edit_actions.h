#pragma once
// Applies one posted form to the shortcut files in the Favorites folder and
// to the organiser positions in the registry. One object per form: its
// result lines and working texts belong to that form alone, so a form posted
// while another is being applied cannot change the first one's results.
#include "platform/dir_enum.h"
#include "platform/own_changes.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace webserver {

class EditActions {
public:
    // The page title of an address, as the page has it (empty: no title).
    using TitleFetcher = std::function<QByteArray(const QString& url)>;

    // favoritesFolder: native, without a final "/". noteOwnChange is told
    // the path of a shortcut before it is written, so the Favorites monitor
    // ignores it. Without fetchTitle each title is fetched by a site probe of
    // its own.
    EditActions(const QString& favoritesFolder, platform::NoteOwnChange noteOwnChange,
                TitleFetcher fetchTitle = {});

    // Runs the editor's fields ("Combo", "Edit", "OB", "CB" + identity =
    // value) in order. A field whose identity is not hexadecimal or names a
    // file outside the Favorites folder is refused with a result line.
    void ApplyEditFields(const QList<QByteArray>& fields);
    // Writes a shortcut to the posted address, named after its page title.
    void AddFavouriteFromHistory(const QByteArray& name);

    // Scan callbacks: each acts on the first file found and stops the scan.
    bool MoveFavourite(const QString& folder, const platform::DirEntry& entry);
    bool RenameFavourite(const QString& folder, const platform::DirEntry& entry);
    bool SetSortOrder(const QString& folder, const platform::DirEntry& entry);
    bool DeleteFavourite(const QString& folder, const platform::DirEntry& entry);

    // The HTML lines of what was done (values escaped).
    const QStringList& ActionResults() const { return results_; }

private:
    using Action = bool (EditActions::*)(const QString&, const platform::DirEntry&);
    void applyField(const QByteArray& field);
    void scanFor(const QString& fileName, Action action);
    bool insideFavorites(const QString& nativePath) const;
    void addResult(const QString& line) { results_.append(line); }
    void refused(int errorCode);
    QString freeShortcutName(const QString& baseName) const;

    QString favorites_;
    platform::NoteOwnChange noteOwnChange_;
    TitleFetcher fetchTitle_;
    QStringList results_;

    // Working texts of the field being applied.
    QString wantedName_;   // file name the scan looks for
    QString editFolder_;   // native, ending in "/"
    QString newName_;      // without extension
    QString targetFolder_; // relative form: "\" or "\Links\"
    QString sortOrderText_;

    // A favourite renamed or moved by an earlier field of this form: its
    // identity (the path the page was made with) and where it is now, so the
    // later fields of the same favourite still find it.
    QHash<QString, QString> currentPath_;
    QString fieldPath_;     // where the field's favourite is now
    QString fieldIdentity_; // the path its identity names
    void followed(const QString& from, const QString& to);
};

} // namespace webserver
