#pragma once
// The application object. An exception that escapes an event handler is
// caught here, at the event dispatch, and shown through the message service
// as the application's default error box; the program then goes on.
#include <QApplication>

namespace app {

class PagoraApplication : public QApplication {
    Q_OBJECT
public:
    PagoraApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows an escaped exception's message in the default error box.
void reportException(const char* what);

} // namespace app
