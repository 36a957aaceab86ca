#pragma once
// Every modal message box of the program goes through one service. The app
// installs a dialog-showing one when there is a display; without one the
// default writes the text to stderr and returns at once; tests install a
// recorder.
#include <QString>
#include <QStringList>

namespace platform {

enum class MessageKind { Information, Warning, Error };

class MessageService {
public:
    virtual ~MessageService() = default;
    virtual void show(const QString& text, const QString& caption, MessageKind kind) = 0;
};

// Writes "caption: text" to stderr.
class StderrMessageService : public MessageService {
public:
    void show(const QString& text, const QString& caption, MessageKind kind) override;
};

// Keeps every text shown, for tests.
class RecordingMessageService : public MessageService {
public:
    void show(const QString& text, const QString& caption, MessageKind kind) override;
    QStringList texts;
    QStringList captions;
};

// The service in use; never null.
MessageService& messageService();
// Installs a service (not owned); nullptr restores the stderr one.
void setMessageService(MessageService* service);

// Shows a box through the service in use. Safe to call from the main thread only.
void showMessage(const QString& text, const QString& caption = QStringLiteral("Pagorama"),
                 MessageKind kind = MessageKind::Information);

// Installs a recorder for the life of a scope (tests).
class ScopedMessageRecorder : public RecordingMessageService {
public:
    ScopedMessageRecorder() : previous_(&messageService()) { setMessageService(this); }
    ~ScopedMessageRecorder() override { setMessageService(previous_); }

private:
    MessageService* previous_;
};

} // namespace platform
