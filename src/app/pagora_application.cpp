#include "app/pagora_application.h"

#include "app/exception_log.h"
#include "platform/message_service.h"

#include <cxxabi.h>
#include <exception>
#include <typeinfo>

namespace app {

PagoraApplication::PagoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool PagoraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        // Logged here only when its raise was not (see ExceptionLogger::notify).
        ExceptionLogger::notifyEscaped(&typeid(error), error.what());
        reportException(error.what());
    } catch (...) {
        ExceptionLogger::notifyEscaped(abi::__cxa_current_exception_type(), nullptr);
        reportException("Unknown error");
    }
    return false;
}

void reportException(const char* what) {
    platform::showMessage(QString::fromUtf8(what), QStringLiteral("Pagora"),
                          platform::MessageKind::Error);
}

} // namespace app
