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
    // A question with Yes and No; true for Yes. A service that cannot wait
    // for an answer shows the text and answers No.
    virtual bool ask(const QString& text, const QString& caption) {
        show(text, caption, MessageKind::Information);
        return false;
    }
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
    bool ask(const QString& text, const QString& caption) override; // recorded; answers answer
    QStringList texts;
    QStringList captions;
    QStringList questions;
    bool answer = false;
};

// The service in use; never null.
MessageService& messageService();
// Installs a service (not owned); nullptr restores the stderr one.
void setMessageService(MessageService* service);

// Shows a box through the service in use. From a thread other than the main
// one it is shown on the main thread while the caller waits.
void showMessage(const QString& text, const QString& caption = QStringLiteral("Pagorama"),
                 MessageKind kind = MessageKind::Information);

// Asks a Yes/No question through the service in use. Main thread only.
bool askQuestion(const QString& text, const QString& caption = QStringLiteral("Pagorama"));

// Installs a recorder for the life of a scope (tests).
class ScopedMessageRecorder : public RecordingMessageService {
public:
    ScopedMessageRecorder() : previous_(&messageService()) { setMessageService(this); }
    ~ScopedMessageRecorder() override { setMessageService(previous_); }

private:
    MessageService* previous_;
};

} // namespace platform
