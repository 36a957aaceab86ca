#include "app/program.h"

#include "app/command_line.h"
#include "app/control_command.h"
#include "app/control_requests.h"
#include "app/dialog_message_service.h"
#include "app/empty_favorites_offer.h"
#include "app/first_run_dialog.h"
#include "app/main_window.h"
#include "app/pagora_application.h"
#include "app/program_core.h"
#include "app/resources_init.h"
#include "app/running_dialog.h"
#include "app/single_instance.h"
#include "app/termination_signals.h"
#include "platform/message_service.h"
#include "platform/paths.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace app {

namespace {

bool nonEmpty(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

// A second copy whose first copy sits in the tray: say where it is.
int reportAlreadyRunning(bool desktop) {
    if (!desktop) {
        // The message service writes it to stderr without a display.
        platform::showMessage(Trunning::text(), QStringLiteral("Already Running"));
        return 1;
    }
    Trunning dialog;
    dialog.exec();
    return 0;
}

// A control folder, socket or lock of another user: this copy neither uses
// it nor runs without it.
int reportRefused(const QString& refusal) {
    platform::showMessage(refusal, QStringLiteral("Pagorama"), platform::MessageKind::Error);
    return 1;
}

// Asks the copy that holds the claim to come forward, again and again for a
// few seconds while it has not started listening yet.
SingleInstance::RunningCopy askRunningCopyWhileStarting(const QString& name, QString* refusal) {
    QDeadlineTimer deadline(10000);
    for (;;) {
        const SingleInstance::RunningCopy answer =
            SingleInstance::askRunningCopy(name, 5000, refusal);
        if (answer != SingleInstance::RunningCopy::None || deadline.hasExpired())
            return answer;
        QThread::msleep(100);
    }
}

// A dialog that waits for the user (the first-run text, the import offer,
// a message) is what another copy's start brings forward.
bool raiseWaitingDialog() {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog)
        return false;
    dialog->raise();
    dialog->activateWindow();
    return true;
}

} // namespace

void greetAtStart(bool desktop) {
    initResources();
    if (!QFileInfo::exists(platform::settingsFilePath()))
        showFirstRun(desktop);
    offerBookmarkImport(desktop);
}

bool environmentHasDisplay() {
    return nonEmpty("DISPLAY") || nonEmpty("WAYLAND_DISPLAY");
}

int runPagorama(int argc, char** argv) {
    if (const std::optional<int> status = runCommandLineOptions(argc, argv))
        return *status;
    const bool showWindow = showWindowAsked(argc, argv);
    if (!environmentHasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        // A display that cannot be reached leaves the program running
        // without window and tray instead of aborting.
        qputenv("QT_QPA_PLATFORM",
                nonEmpty("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen");
    PagoraApplication application(argc, argv);
    initResources();
    QApplication::setApplicationName(QStringLiteral("Pagora"));
    QApplication::setQuitOnLastWindowClosed(false);
    const QString platformName = QGuiApplication::platformName();
    const bool desktop = environmentHasDisplay() && platformName != QLatin1String("offscreen") &&
                         platformName != QLatin1String("minimal");

    DialogMessageService dialogs;
    if (desktop)
        platform::setMessageService(&dialogs);

    const QString name = SingleInstance::serverName();
    SingleInstance instance;
    if (!instance.claim(name)) {
        if (!instance.refusal().isEmpty())
            return reportRefused(instance.refusal());
        if (showWindow) // a copy started since the command line looked
            return sendControlRequest(ShowRequest);
        // Another copy is alive; it may still be starting, so give it time
        // to answer before saying where it is.
        QString refusal;
        switch (askRunningCopyWhileStarting(name, &refusal)) {
        case SingleInstance::RunningCopy::Shown:
            return 0;
        case SingleInstance::RunningCopy::Foreign:
            return reportRefused(refusal);
        case SingleInstance::RunningCopy::Minimised:
        case SingleInstance::RunningCopy::None:
            return reportAlreadyRunning(desktop);
        }
    }
    if (!instance.listen(name)) {
        if (!instance.refusal().isEmpty())
            return reportRefused(instance.refusal());
        std::fprintf(stderr, "Pagorama: cannot listen for other copies on %s\n",
                     name.toUtf8().constData());
    }

    instance.comeForward = raiseWaitingDialog;
    greetAtStart(desktop);
    ProgramCore core({desktop});
    // Without a display no widget is made: the core's own view writes the
    // status lines to stderr.
    std::unique_ptr<TMain> window;
    if (desktop)
        window = std::make_unique<TMain>(core);
    instance.comeForward = [&window] {
        if (raiseWaitingDialog())
            return true;
        if (!window || !window->isVisible() || window->isMinimized())
            return false;
        window->raise();
        window->activateWindow();
        return true;
    };
    auto openWindow = [&window] {
        if (window)
            QTimer::singleShot(0, window.get(), &TMain::Configure1Click);
        return bool(window);
    };
    if (showWindow)
        openWindow();
    instance.control = [&core, openWindow](const QByteArray& request) {
        return answerControlRequest(core, request, openWindow);
    };
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &core,
                     &ProgramCore::Close1Click);
    QObject::connect(&core, &ProgramCore::quitRequested, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    const int status = application.exec();
    platform::setMessageService(nullptr);
    return status;
}

} // namespace app
