#pragma once
// The message service of a desktop session: every box is a modal QMessageBox
// with one OK button.
#include "platform/message_service.h"

namespace app {

class DialogMessageService : public platform::MessageService {
public:
    void show(const QString& text, const QString& caption, platform::MessageKind kind) override;
};

} // namespace app
