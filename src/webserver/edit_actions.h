#pragma once
// Applies one posted form to the shortcut files in the Favorites folder and
// to the organiser positions in the registry. One object per form: its
// result lines and working texts belong to that form alone, so a form posted
// while another is being applied cannot change the first one's results.
#include "catalogue/organiser_edits.h"
#include "platform/dir_enum.h"
#include "platform/own_changes.h"
#include "webserver/form_folders.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

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
    // value) in order, each on the file its identity (the hexadecimal full
    // path) names. A field whose identity is not hexadecimal or names a file
    // outside the Favorites folder is refused with a result line.
    // Pages that carry the values they were built with ("WasEdit",
    // "WasCombo", "WasOB" + identity) have only the changed fields applied,
    // and only where the favourite still has the value the page showed; a
    // "Top" + identity field of "yes" or "no" tells whether a "Root" choice
    // is the Favorites folder itself or a top-level folder named Root.
    void ApplyEditFields(const QList<QByteArray>& fields);
    // Writes a shortcut to the posted address, named after its page title.
    void AddFavouriteFromHistory(const QByteArray& name);

    // The actions on one favourite file (folder native, ending in "/"). Each
    // returns false, as a scan callback that stops at the file.
    bool MoveFavourite(const QString& folder, const platform::DirEntry& entry);
    bool RenameFavourite(const QString& folder, const platform::DirEntry& entry);
    bool SetSortOrder(const QString& folder, const platform::DirEntry& entry);
    bool DeleteFavourite(const QString& folder, const platform::DirEntry& entry);

    // The HTML lines of what was done (values escaped).
    const QStringList& ActionResults() const { return results_; }

private:
    using Action = bool (EditActions::*)(const QString&, const platform::DirEntry&);
    void applyField(const QByteArray& field);
    void applyMove(const QString& value, const QByteArray& identity);
    void applyRename(const QString& value, const QByteArray& identity);
    void applySortOrder(const QString& value, const QByteArray& identity);
    void applyDelete(const QString& value);
    std::optional<QString> carried(const QByteArray& name) const;
    bool fieldFileExists() const;
    // Whether a field that asks for wanted, where the favourite now has now,
    // is applied: not when its page shows it unchanged, nor (with a line
    // saying so) when the favourite has changed since the page was made or
    // its file is gone.
    bool changeWanted(const QByteArray& carriedName, const QString& wanted, const QString& now,
                      const QString& what);
    void actOnFieldFile(Action action);
    void addResult(const QString& line) { results_.append(line); }
    void refused(int errorCode, const QString& what);
    void skipped(const QString& what);
    void notFound(const QString& what);
    // A shortcut of the Favorites folder named baseName or a numbered
    // variant of it that already holds address, if any; else the first
    // free name.
    QString shortcutNameFor(const QString& baseName, const QString& address,
                            bool* alreadyThere) const;

    QString favorites_;
    platform::NoteOwnChange noteOwnChange_;
    TitleFetcher fetchTitle_;
    QStringList results_;

    // Values the page was built with, and the "Top" choices, by field name
    // up to its "=".
    QHash<QByteArray, QString> carried_;

    // Working texts of the field being applied.
    QString editFolder_;   // native, ending in "/"
    QString newName_;      // without extension
    QString targetFolder_; // relative form: "\" or "\Links\"
    QString sortOrderText_;

    // The folders and organiser positions this form changes; the positions
    // are written once, when the fields are done.
    FormFolders folders_;
    catalogue::OrganiserEdits organiser_;
    void saveOrganiserPositions();

    // A favourite renamed or moved by an earlier field of this form: its
    // identity (the path the page was made with) and where it is now, so the
    // later fields of the same favourite still find it.
    QHash<QString, QString> currentPath_;
    QString fieldPath_;     // where the field's favourite is now
    QString fieldIdentity_; // the path its identity names
    void followed(const QString& from, const QString& to);
};

} // namespace webserver
