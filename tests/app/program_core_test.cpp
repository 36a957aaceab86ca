// The program without its window: start-up and the settings it saves, the
// close rules, the start message, folder changes and the timer, refresh
// runs, the background picture, the error box of the event dispatch, and
// the stderr lines of a program without a display.
#include "app/headless_view.h"
#include "catalogue/refresh_run.h"
#include "platform/file_replace.h"
#include "platform/folder_monitor.h"
#include "support/program_fixture.h"
#include "webserver/web_server_controller.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class Core : public testsupport::ProgramFixture {
public:
    void start(bool serve = false) { ProgramFixture::start(false, serve); }
};

TEST_F(Core, FirstStartPrintsTheFirstRunTextAndSavesCentredDefaults) {
    testing::internal::CaptureStderr();
    start();
    const std::string printed = testing::internal::GetCapturedStderr();
    // Without a display the first-run text is printed and start-up goes on.
    EXPECT_NE(printed.find("This is the first time Pagorama has been run on this computer."),
              std::string::npos);
    EXPECT_TRUE(core->Initialised);
    // Without a display the program runs without any widget.
    EXPECT_TRUE(QApplication::allWidgets().isEmpty());
    // "Refresh on program start" is on by default: the start message arrives once.
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(core->statusLine(), QStringLiteral("All Done"));

    // The window's place is centred on the screen even when it is never shown.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(core->Settings.left, (screen.width() - app::HeadlessView::FrameWidth) / 2);
    EXPECT_EQ(core->Settings.top, (screen.height() - app::HeadlessView::FrameHeight) / 2);
    core->Close1Click();
    const QByteArray saved = settingsText();
    EXPECT_EQ(home.setting("WindowMain", "Width"), "429");
    EXPECT_EQ(home.setting("WindowMain", "Height"), "353");
    EXPECT_EQ(home.setting("Data", "Port"), "80");
}

TEST_F(Core, AnEmptySettingsFileIsNoFirstStart) {
    writeSettings("");
    testing::internal::CaptureStderr();
    start();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("first time"), std::string::npos);
    EXPECT_EQ(starts, 1);
}

TEST_F(Core, ServerStartsOnTheSavedPortAndStops) {
    const quint16 port = testsupport::freePort();
    writeSettingsWithFreePort("[General]\nStartup=0\n");
    start(true);
    ASSERT_TRUE(core->HttpServer1->isListening());
    EXPECT_NE(core->HttpServer1->lastStartedPort(), QString());
    core->StopButtonClick();
    EXPECT_FALSE(core->HttpServer1->isListening());
    core->Settings.port = QString::number(port);
    core->StartButtonClick();
    EXPECT_TRUE(core->HttpServer1->isListening());
    EXPECT_EQ(core->HttpServer1->lastStartedPort(), QString::number(port));
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(" | "));
}

TEST_F(Core, CloseWithAutostartSavesAndStaysAndWithoutItEnds) {
    start();
    ASSERT_TRUE(core->Settings.autoStart);
    EXPECT_FALSE(core->closeProgram());
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(core->Run().cancelRequested()); // no cancel for a close that only hides
    EXPECT_EQ(home.setting("General", "AutoStart"), "1");

    core->Settings.autoStart = false;
    EXPECT_TRUE(core->closeProgram());
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(core->Ending);
    EXPECT_TRUE(core->Run().cancelRequested()); // the run was cancelled first
    EXPECT_EQ(home.setting("General", "AutoStart"), "0");
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(" | "));
}

TEST_F(Core, ACloseRequestAlwaysEndsAndNoRunStartsAfterIt) {
    home.write("Favorites/Bank.url", "[InternetShortcut]\r\nURL=https://bank.example.invalid/\r\n");
    writeSettings("[General]\r\nStartup=0\r\nHistory=0\r\n");
    start();
    ASSERT_TRUE(core->Settings.autoStart);
    core->Close1Click();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(core->CloseRequested);
    EXPECT_TRUE(core->Run().cancelRequested());
    EXPECT_FALSE(settingsText().isEmpty());
    core->Button2Click();
    EXPECT_FALSE(QFile::exists(home.dataFolder() + "listings.xml"));
}

TEST_F(Core, UnwritableSettingsShowTheErrorAndTheCloseStillEnds) {
    home.write("blocker", "a regular file where a folder should be");
    start();
    core->IniFileName = home.path() + "/blocker/pagorama.ini";

    EXPECT_FALSE(core->closeProgram()); // [X] with autostart: still only hides
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.texts.first(), "Unable to write to " + core->IniFileName);
    EXPECT_EQ(quits, 0);

    core->Close1Click();
    EXPECT_EQ(messages.texts.size(), 2);
    EXPECT_EQ(quits, 1);
}

TEST_F(Core, StartMessageIsPostedOnlyWithRefreshOnProgramStart) {
    writeSettings("[General]\nStartup=0\n");
    start();
    EXPECT_EQ(starts, 0);
    EXPECT_TRUE(core->Initialised);

    // The message is a posted event handled after the first showing.
    QCoreApplication::postEvent(core.get(), new QEvent(app::ProgramCore::StartRefreshMessage));
    EXPECT_EQ(starts, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(starts, 1);
}

TEST_F(Core, FavoritesChangesWaitForTheTimerUnlessIgnored) {
    // No run is wanted here, and none could reach a fixed port of this machine.
    home.write("Favorites/News/site.url",
               "[InternetShortcut]\nURL=http://127.0.0.1:" +
                   QByteArray::number(testsupport::freePort()) + "/\n");
    writeSettings("[General]\nStartup=0\n");
    start();
    ASSERT_TRUE(core->FolderMonitor1->isActive());
    QDir favorites(home.favorites());
    ASSERT_TRUE(favorites.rename("News/site.url", "News/renamed.url"));
    QElapsedTimer waited;
    waited.start();
    while (!core->Run().favouritesChanged() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_TRUE(core->Run().favouritesChanged());

    // A shortcut the program writes itself is no change; one the user puts
    // there right after it is.
    core->Run().setFavouritesChanged(false);
    const QString own = home.favorites() + "/News/own.url";
    core->OwnFavouriteChanges.note(own);
    ASSERT_TRUE(platform::replaceFileWhole(own, "[InternetShortcut]\r\nURL=http://a/\r\n"));
    waited.restart();
    while (waited.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_FALSE(core->Run().favouritesChanged());
    home.write("Favorites/News/users.url", "[InternetShortcut]\nURL=http://b/\n");
    waited.restart();
    while (!core->Run().favouritesChanged() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_TRUE(core->Run().favouritesChanged());

    core->Run().setFavouritesChanged(false);
    core->Settings.autorefresh = false;
    core->FolderMonitor1Change();
    EXPECT_FALSE(core->Run().favouritesChanged());
}

TEST_F(Core, TimerCountsTicksTowardsTheIntervalOfTheControls) {
    start();
    EXPECT_EQ(core->Timer1->interval(), 30000);
    EXPECT_TRUE(core->Timer1->isActive());
    core->Settings.interval = 1;
    for (int tick = 1; tick <= 3; ++tick)
        core->Timer1Timer();
    EXPECT_EQ(core->Schedule.ticks, 3);
    core->Timer1Timer();
    EXPECT_EQ(core->Schedule.ticks, 0); // the timed refresh started
    EXPECT_EQ(core->StatusText(app::TrayIconKind::Still),
              QStringLiteral("Auto Refresh will restart in 1 minutes\n\r\n\rRight click on the "
                             "Pagorama icon for the menu"));
    core->Settings.timeRefresh = false;
    for (int tick = 1; tick <= 10; ++tick)
        core->Timer1Timer();
    EXPECT_EQ(core->Schedule.ticks, 10);
    EXPECT_TRUE(core->StatusText(app::TrayIconKind::Still).startsWith("Timed Auto Refresh is OFF"));
}

TEST_F(Core, AFavoritesRenameStartsARunAtTheNextTickAndAContentWriteDoesNot) {
    // https addresses are never fetched, so the run stays on this machine.
    home.write("Favorites/News/site.url", "[InternetShortcut]\r\nURL=https://example.invalid/\r\n");
    writeSettings("[General]\r\nStartup=0\r\nHistory=0\r\n");
    start();
    ASSERT_FALSE(QFile::exists(home.dataFolder() + "listings.xml"));
    auto waitForChange = [this](int ms) {
        QElapsedTimer waited;
        waited.start();
        while (!core->Run().favouritesChanged() && waited.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    };

    ASSERT_TRUE(QDir(home.favorites()).rename("News/site.url", "News/renamed.url"));
    waitForChange(10000);
    ASSERT_TRUE(core->Run().favouritesChanged());
    core->Timer1Timer();
    const QByteArray catalogue = home.read("Documents/pagorama/listings.xml");
    EXPECT_TRUE(catalogue.contains("DESCRIPTION=\"renamed\"")) << catalogue.constData();
    EXPECT_FALSE(core->Run().favouritesChanged());

    home.write("Favorites/News/renamed.url",
               "[InternetShortcut]\r\nURL=https://example.invalid/x\r\n");
    waitForChange(1500);
    EXPECT_FALSE(core->Run().favouritesChanged());
    core->Timer1Timer();
    EXPECT_EQ(home.read("Documents/pagorama/listings.xml"), catalogue); // no run

    // A change and the end of the interval in the same tick: two runs.
    ASSERT_TRUE(QDir(home.favorites()).rename("News/renamed.url", "News/again.url"));
    waitForChange(10000);
    ASSERT_TRUE(core->Run().favouritesChanged());
    core->Settings.timeRefresh = true;
    core->Settings.interval = 1;
    core->Schedule.ticks = 3;
    const int runsBefore = core->Settings.evenFileName;
    core->Timer1Timer();
    EXPECT_EQ(core->Settings.evenFileName, runsBefore + 2);
    EXPECT_TRUE(home.read("Documents/pagorama/listings.xml").contains("DESCRIPTION=\"again\""));
}

TEST_F(Core, BackgroundPictureThatIsNotAJpegShowsAnErrorAndKeepsTheOldOne) {
    start();
    const QString back = home.dataFolder() + "_back.jpg";
    const QByteArray before = home.read("Documents/pagorama/_back.jpg");
    ASSERT_FALSE(before.isEmpty()); // the built-in default was written at creation
    home.write("pictures/holiday.jpg", "GIF89a not really a picture");
    home.write("pictures/cut.jpg", before.left(before.size() / 3));

    EXPECT_FALSE(core->LoadBackgroundPicture(home.path() + "/pictures/holiday.jpg"));
    EXPECT_FALSE(core->LoadBackgroundPicture(home.path() + "/pictures/cut.jpg"));
    ASSERT_EQ(messages.texts.size(), 2);
    EXPECT_TRUE(messages.texts[0].contains("holiday.jpg"));
    EXPECT_EQ(home.read("Documents/pagorama/_back.jpg"), before);

    // The program goes on: a good picture is taken afterwards.
    home.write("pictures/good.jpg", before);
    EXPECT_TRUE(core->LoadBackgroundPicture(home.path() + "/pictures/good.jpg"));
    EXPECT_EQ(messages.texts.size(), 2);
}

class Thrower : public QObject {
public:
    int handled = 0;
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (++handled == 1)
            throw std::runtime_error("Disk full while writing the page");
        return true;
    }
};

TEST_F(Core, AnExceptionFromAHandlerShowsTheErrorBoxAndTheProgramGoesOn) {
    testsupport::programApplication();
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(thrower.handled, 2);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.texts.first(), QStringLiteral("Disk full while writing the page"));
}

TEST_F(Core, WithoutADisplayTheStatusLineGoesToStderrOneLineEach) {
    start();
    catalogue::RefreshHost& host = core->RunHost();
    testing::internal::CaptureStderr();
    host.setStatusText(QStringLiteral("Found 12 web favourites."));
    host.setStatusText(QStringLiteral("two\r\nlines"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Found 12 web favourites.\ntwo lines\n");
    EXPECT_EQ(core->statusLine(), QStringLiteral("two\r\nlines"));

    // The light and the tray keep their state for the run that reads them back.
    host.setStatusLight(catalogue::RunLight::Running);
    core->Button3Click();
    EXPECT_EQ(host.statusLight(), catalogue::RunLight::Cancelling);
    host.setTrayAnimated(true);
    EXPECT_EQ(core->view().visibleTrayIcon(), app::TrayIconKind::Animated);
    host.setRefreshControlsEnabled(false);
    EXPECT_FALSE(core->Timer1->isActive());
    host.setRefreshControlsEnabled(true);
    EXPECT_TRUE(core->Timer1->isActive());
}

} // namespace
