#include "app/dialog_message_service.h"

#include <QMessageBox>

namespace app {

void DialogMessageService::show(const QString& text, const QString& caption,
                                platform::MessageKind kind) {
    QMessageBox::Icon icon = QMessageBox::Information;
    if (kind == platform::MessageKind::Warning)
        icon = QMessageBox::Warning;
    else if (kind == platform::MessageKind::Error)
        icon = QMessageBox::Critical;
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.exec();
}

bool DialogMessageService::ask(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

} // namespace app
