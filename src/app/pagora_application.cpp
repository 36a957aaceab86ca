#include "app/pagora_application.h"

#include "platform/message_service.h"

#include <exception>

namespace app {

PagoraApplication::PagoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool PagoraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportException(error.what());
    } catch (...) {
        reportException("Unknown error");
    }
    return false;
}

void reportException(const char* what) {
    platform::showMessage(QString::fromUtf8(what), QStringLiteral("Pagora"),
                          platform::MessageKind::Error);
}

} // namespace app
