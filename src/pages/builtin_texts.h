#pragma once
// The texts the program carries: the built-in stylesheets, the two pages shown
// before the first refresh run, and the stand-by catalogue. They are data
// files compiled in as resources.
#include <QByteArray>
#include <QString>

namespace pages {

enum class BuiltinText {
    View,          // favourites grid
    Edit,          // favourites edit form
    Folders,       // folder list (text)
    ViewFrame,     // viewer frameset
    ViewHead,      // viewer header (also used as the viewer footer)
    EditFrame,     // editor frameset
    EditHead,      // editor header
    EditFooter,    // editor buttons
    Reloader,      // change watcher
    History,       // history grid and form
    Overview,      // every favourite on one page, with search and filters
    NotRunPage,    // placeholder of the view and edit pages
    NotRunHistory, // placeholder of the history page
    StartPage,     // view and edit start page when no favourite lies at the top
    StandbyCatalogue,
};

// The text as stored, with LF line ends.
QByteArray builtinText(BuiltinText which);

// A text split into lines (CR LF, LF or CR), each written back with CR LF,
// the form in which pages and stylesheet copies are saved.
QByteArray withCrLfLines(const QByteArray& text);

} // namespace pages
