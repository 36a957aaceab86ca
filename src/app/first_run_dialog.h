#pragma once
// The dialog shown when there is no settings file yet: what is about to
// happen, where the program lives afterwards, and a link to its page.
#include <QDialog>

namespace app {

class Tfirst_run : public QDialog {
    Q_OBJECT
public:
    explicit Tfirst_run(QWidget* parent = nullptr);

    static QString text();     // the message, as shown
    static QString linkText(); // "Clicking Here"
};

// Shows the dialog modally in a desktop session; without a display prints
// its text to stderr and returns at once.
void showFirstRun(bool desktop);

} // namespace app
