#include "platform/message_service.h"

#include "platform/main_thread.h"

#include <cstdio>

namespace platform {

namespace {
StderrMessageService stderrService;
MessageService* current = &stderrService;
} // namespace

void StderrMessageService::show(const QString& text, const QString& caption, MessageKind) {
    QString flat = text;
    flat.replace("\r\n", "\n").replace("\n\r", "\n").replace('\r', '\n');
    const QByteArray line = (caption.isEmpty() ? flat : caption + ": " + flat).toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
}

void RecordingMessageService::show(const QString& text, const QString& caption, MessageKind) {
    texts << text;
    captions << caption;
}

bool RecordingMessageService::ask(const QString& text, const QString&) {
    questions << text;
    return answer;
}

MessageService& messageService() {
    return *current;
}

void setMessageService(MessageService* service) {
    current = service ? service : &stderrService;
}

void showMessage(const QString& text, const QString& caption, MessageKind kind) {
    // Services show boxes or record into plain lists: both belong to the
    // main thread, so a call from elsewhere waits for it there.
    runOnMainThread([&] { current->show(text, caption, kind); });
}

} // namespace platform

namespace platform {

bool askQuestion(const QString& text, const QString& caption) {
    return current->ask(text, caption);
}

} // namespace platform
