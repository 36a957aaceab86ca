#pragma once
// The running program for tests of the app folder: the one GUI application
// of the test program, and a fixture that makes the program's core (with or
// without its window) in a temporary HOME and lets its first showing run.
// Header only: the support library itself does not link the app's code.
#include "app/main_window.h"
#include "app/pagora_application.h"
#include "app/program.h"
#include "app/program_core.h"
#include "platform/message_service.h"
#include "support/free_port.h"
#include "support/temp_home.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

inline app::PagoraApplication& programApplication() {
    static int argc = 1;
    static char name[] = "pagorama_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: it must outlive every static of Qt that a test touched.
    static auto* instance = new app::PagoraApplication(argc, argv);
    return *instance;
}

class ProgramFixture : public ::testing::Test {
public:
    void SetUp() override { programApplication(); }
    void TearDown() override { stop(); }

    // Makes the core, and the window when withWindow, and lets the event
    // loop run the first showing. The server starts at start-up only when
    // serve is set: a test that needs it gives a free port in the settings.
    void start(bool withWindow, bool serve = false) {
        stop();
        app::greetAtStart(false);
        app::ProgramCore::Options options;
        options.serveAtStart = serve;
        core = std::make_unique<app::ProgramCore>(options);
        if (withWindow)
            window = std::make_unique<app::TMain>(*core);
        quits = 0;
        starts = 0;
        QObject::connect(core.get(), &app::ProgramCore::quitRequested, [this] { ++quits; });
        QObject::connect(core.get(), &app::ProgramCore::startRefreshMessageHandled,
                         [this] { ++starts; });
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    void stop() {
        window.reset();
        core.reset();
    }

    void writeSettings(const QByteArray& text) {
        home.write(".config/pagorama/pagorama.ini", text);
    }
    // Settings whose server starts on a port no other program holds.
    void writeSettingsWithFreePort(const QByteArray& more) {
        writeSettings("[Data]\nPort=" + QByteArray::number(freePort()) + "\n" + more);
    }
    QByteArray settingsText() { return home.read(".config/pagorama/pagorama.ini"); }
    QString setting(const QString& section, const QString& key) {
        return home.setting(section, key);
    }

    template <typename T> T* control(const char* name) {
        T* found = window ? window->findChild<T*>(QLatin1String(name)) : nullptr;
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    TempHome home;
    platform::ScopedMessageRecorder messages;
    std::unique_ptr<app::ProgramCore> core;
    std::unique_ptr<app::TMain> window; // made after the core, gone before it
    int quits = 0, starts = 0;          // signals seen from the core
};

} // namespace testsupport
