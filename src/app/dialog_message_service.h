#pragma once
// The message service of a desktop session: every box is a modal QMessageBox
// with one OK button, and every question one with Yes and No.
#include "platform/message_service.h"

namespace app {

class DialogMessageService : public platform::MessageService {
public:
    void show(const QString& text, const QString& caption, platform::MessageKind kind) override;
    bool ask(const QString& text, const QString& caption) override;
};

} // namespace app
