// The main window: controls and their defaults, the close rules, the start
// message, cancel, folder changes, the background picture, the error box of
// the event dispatch, and a tidy layout on both tabs.
#include "app/first_run_dialog.h"
#include "app/main_window.h"
#include "app/pagora_application.h"
#include "app/running_dialog.h"
#include "app/status_light.h"
#include "app/window_refresh_host.h"
#include "catalogue/refresh_run.h"
#include "platform/file_replace.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "support/temp_home.h"
#include "webserver/server_log.h"
#include "webserver/web_server_controller.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

app::PagoraApplication& application() {
    static int argc = 1;
    static char name[] = "app_main_window_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: it must outlive every static of Qt that a test touched.
    static auto* instance = new app::PagoraApplication(argc, argv);
    return *instance;
}

class MainWindow : public ::testing::Test {
public:
    void SetUp() override { application(); }

    // Creates the window and lets the event loop run its first showing.
    void start() {
        window = std::make_unique<app::TMain>(false);
        quits = 0;
        starts = 0;
        QObject::connect(window.get(), &app::TMain::quitRequested, [this] { ++quits; });
        QObject::connect(window.get(), &app::TMain::startRefreshMessageHandled,
                         [this] { ++starts; });
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    void writeSettings(const QByteArray& text) {
        home.write(".config/pagorama/pagorama.ini", text);
    }
    QByteArray settingsText() { return home.read(".config/pagorama/pagorama.ini"); }

    template <typename T> T* control(const char* name) {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    testsupport::TempHome home;
    platform::ScopedMessageRecorder messages;
    std::unique_ptr<app::TMain> window;
    int quits = 0, starts = 0; // signals seen from the window
};

struct BoxDefault {
    const char* name;
    const char* caption;
    bool checked;
};

const BoxDefault Boxes[] = {
    {"cb_timerefresh", "Auto Refesh Every ", true},
    {"cb_autorefresh", "Autorefresh if Favourites change", true},
    {"cb_startup", "Refresh on program start", true},
    {"cb_newpage", "New Page per Folder", true},
    {"cb_homepage", "Home Page on header", false},
    {"cb_newonly", "Get only if a new site", true},
    {"cb_ShowCode", "Display Error Code if page unavailable", false},
    {"cb_History", "Analyser History if visited at least", true},
    {"cb_autostart", "Start Pagorama with Windows", true},
    {"cb_SecureSites", "Picture secure (https) sites", false},
    {"DisplayHeaderCheckBox", "Display Header", false},
    {"WriteLogFileCheckBox", "Write web server to log file", false},
    {"ShareOnNetworkCheckBox", "Let other computers view the pages", false},
};

void expectDefaults(MainWindow& test) {
    for (const BoxDefault& box : Boxes) {
        QCheckBox* found = test.control<QCheckBox>(box.name);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->text(), QString::fromUtf8(box.caption)) << box.name;
        EXPECT_EQ(found->isChecked(), box.checked) << box.name;
    }
    auto* interval = test.control<QSpinBox>("SpinEdit1");
    EXPECT_EQ(interval->value(), 120);
    EXPECT_EQ(interval->minimum(), 1);
    EXPECT_EQ(interval->maximum(), 10000);
    auto* threshold = test.control<QSpinBox>("SpinEdit2");
    EXPECT_EQ(threshold->value(), 10);
    EXPECT_EQ(threshold->minimum(), 1);
    EXPECT_EQ(threshold->maximum(), 1000);
    auto* sortBy = test.control<QComboBox>("sort_by");
    EXPECT_EQ(sortBy->currentIndex(), 0);
    ASSERT_EQ(sortBy->count(), 5);
    EXPECT_EQ(sortBy->itemText(0), QStringLiteral("Alphabetically"));
    EXPECT_EQ(sortBy->itemText(1), QStringLiteral("Using Internet Explorer Organizer"));
    EXPECT_EQ(sortBy->itemText(4), QStringLiteral("Randomly"));
    EXPECT_EQ(test.control<QLineEdit>("PortEdit")->text(), QStringLiteral("80"));
    EXPECT_EQ(test.control<QLabel>("ClientCountLabel")->text(), QStringLiteral("0"));
    EXPECT_EQ(test.control<app::StatusLight>("Shape1")->colour(), app::IdleColour);
    // "Refresh on program start" is on by default: the first run has already
    // gone over the (empty) Favorites and set the bar's range to what it found.
    EXPECT_EQ(test.control<QProgressBar>("ProgressBar1")->maximum(), 0);
    EXPECT_EQ(test.control<QLabel>("Label1")->text(), QStringLiteral("All Done"));

    // Centred on the screen.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(test.window->Settings.left,
              (screen.width() - test.window->frameGeometry().width()) / 2);
    EXPECT_EQ(test.window->Settings.top,
              (screen.height() - test.window->frameGeometry().height()) / 2);
    // With "Refresh on program start" the start message arrives once.
    EXPECT_EQ(test.starts, 1);
}

TEST_F(MainWindow, DefaultsWithoutASettingsFile) {
    testing::internal::CaptureStderr();
    start();
    const std::string printed = testing::internal::GetCapturedStderr();
    // Without a display the first-run text is printed and start-up goes on.
    EXPECT_NE(printed.find("This is the first time Pagorama has been run on this computer."),
              std::string::npos);
    expectDefaults(*this);
}

TEST_F(MainWindow, DefaultsWithAnEmptySettingsFile) {
    writeSettings("");
    testing::internal::CaptureStderr();
    start();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("first time"), std::string::npos);
    expectDefaults(*this);
}

TEST_F(MainWindow, WindowCaptionsHintsAndSizes) {
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Pagorama"));
    EXPECT_EQ(window->size(), QSize(429, 353));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()); // not resizable
    auto* tabs = control<QTabWidget>("PageControl1");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Main Setup"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Web Server"));
    EXPECT_EQ(control<QGroupBox>("GroupBox1")->title(), QStringLiteral("Settings"));
    EXPECT_EQ(control<QLabel>("Image1")->size(), QSize(122, 122));
    EXPECT_EQ(control<QLabel>("Label5")->text(), QStringLiteral("Clients"));
    EXPECT_EQ(control<QLabel>("Label3")->text(), QStringLiteral("Web Server Port"));

    const struct {
        const char* name;
        const char* caption;
        const char* hint;
    } buttons[] = {
        {"Button2", "Manually Refresh", "Start Pagorama refreshing pages now."},
        {"Button4", "Cancel Refresh",
         "Cancel Pagorama refreshing pages. This may take a few minutes as the current page will "
         "be finished first."},
        {"Button5", "Load Background graphic",
         "Load a different image to the background of the web pages Pagorama creates."},
        {"Button6", "&Close Pagorama Configuration", "Close this form."},
        {"Button3", "&Shutdown Pagorama", "Cancel what Pagorama is doing and then Close."},
        {"ClearButton", "&Clear Log", ""},
        {"StartButton", "&Start Web Server", "Start the internal web server"},
        {"StopButton", "St&op Web Server", "Stop the internal web server"},
    };
    for (const auto& button : buttons) {
        auto* found = control<QPushButton>(button.name);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->text(), QString::fromUtf8(button.caption));
        EXPECT_EQ(found->toolTip(), QString::fromUtf8(button.hint)) << button.name;
    }
    EXPECT_EQ(control<QCheckBox>("cb_History")->toolTip(),
              QStringLiteral("Check this box if you wish Pagorama to analyse your web browsing "
                             "history and produce a suggestions page.\r\nOnly pages that have "
                             "been visited more than X times will be show."));
    EXPECT_EQ(control<QLineEdit>("PortEdit")->toolTip(),
              QStringLiteral("Set the port the internal server uses. Normally this should be "
                             "port 80. "));
    EXPECT_EQ(control<app::StatusLight>("Shape1")->toolTip(),
              QStringLiteral("Status of Pagorama:\r\nGreen - Not Surfing\r\nRed - Surfing\r\n"
                             "Yellow - Cancelling current web page."));
    QStringList menu;
    for (QAction* action : window->PopupMenu1->actions())
        menu << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(menu, QStringList({"Manually &Refresh", "C&ancel Refresh", "-", "&Configure", "-",
                                 "Instructions", "-", "C&lose"}));
}

TEST_F(MainWindow, ControlsShowTheFileAndWriteChangesToTheModelAtOnce) {
    writeSettings("[Data]\nPort=8080\n[General]\nInterval=0\nHistory_threshhold=5000\n"
                  "SortBy=9\nAutoStart=0\nshowcode=1\n");
    start();
    EXPECT_EQ(control<QSpinBox>("SpinEdit1")->value(), 1);
    EXPECT_EQ(control<QSpinBox>("SpinEdit2")->value(), 1000);
    EXPECT_EQ(control<QComboBox>("sort_by")->currentIndex(), -1);
    EXPECT_FALSE(control<QCheckBox>("cb_autostart")->isChecked());
    EXPECT_TRUE(control<QCheckBox>("cb_ShowCode")->isChecked());
    EXPECT_EQ(control<QLineEdit>("PortEdit")->text(), QStringLiteral("8080"));

    control<QCheckBox>("cb_newpage")->setChecked(false);
    control<QCheckBox>("cb_SecureSites")->setChecked(true);
    EXPECT_TRUE(window->Settings.secureSites);
    control<QSpinBox>("SpinEdit1")->setValue(45);
    control<QComboBox>("sort_by")->setCurrentIndex(3);
    EXPECT_FALSE(window->Settings.newPage);
    EXPECT_EQ(window->Settings.interval, 45);
    EXPECT_EQ(window->Settings.sortBy, 3);

    // A port typed but never used to start the server is not saved.
    control<QLineEdit>("PortEdit")->setText(QStringLiteral("9090"));
    EXPECT_EQ(window->Settings.port, QStringLiteral("9090"));

    window->Close1Click();
    const QByteArray saved = settingsText();
    EXPECT_TRUE(saved.contains("Port=8080")) << saved.constData();
    EXPECT_TRUE(saved.contains("ShareOnNetwork=0")) << saved.constData();
    EXPECT_TRUE(saved.contains("NewPage=0"));
    EXPECT_TRUE(saved.contains("SecureSites=1"));
    EXPECT_TRUE(saved.contains("Interval=45"));
    EXPECT_TRUE(saved.contains("SortBy=3"));
    EXPECT_TRUE(saved.contains("History_threshhold=1000"));
}

TEST_F(MainWindow, SharingTheServerListensOnEveryInterfaceUntilUnticked) {
    writeSettings("[Data]\nPort=0\nShareOnNetwork=1\n[General]\nStartup=0\nAutoStart=0\n");
    start();
    auto* share = control<QCheckBox>("ShareOnNetworkCheckBox");
    ASSERT_TRUE(window->HttpServer1->isListening());
    EXPECT_TRUE(share->isChecked());
    EXPECT_EQ(window->HttpServer1->server().addr(), QStringLiteral("0.0.0.0"));

    // Unticking takes effect at once: the server listens on loopback only.
    share->setChecked(false);
    EXPECT_TRUE(window->HttpServer1->isListening());
    EXPECT_EQ(window->HttpServer1->server().addr(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(window->Settings.shareOnNetwork);
    window->Close1Click();
    EXPECT_TRUE(settingsText().contains("ShareOnNetwork=0")) << settingsText().constData();
}

TEST_F(MainWindow, CloseBoxWithAutostartSavesAndStays) {
    start();
    ASSERT_TRUE(control<QCheckBox>("cb_autostart")->isChecked());
    EXPECT_FALSE(window->close());
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(window->Run->cancelRequested()); // no cancel for a close that only hides
    EXPECT_TRUE(settingsText().contains("AutoStart=1"));
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(" | "));
}

TEST_F(MainWindow, CloseBoxWithoutAutostartEnds) {
    start();
    control<QCheckBox>("cb_autostart")->setChecked(false);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(window->Run->cancelRequested()); // the run was cancelled first
    EXPECT_TRUE(settingsText().contains("AutoStart=0"));
}

TEST_F(MainWindow, CloseFromTheMenuAndShutdownButtonAlwaysEnd) {
    start();
    ASSERT_TRUE(control<QCheckBox>("cb_autostart")->isChecked());
    window->PopupMenu1->findChild<QAction*>(QStringLiteral("Close1"))->trigger();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(window->CloseRequested);
    EXPECT_TRUE(window->Run->cancelRequested());
    EXPECT_FALSE(settingsText().isEmpty());

    window.reset();
    start();
    control<QPushButton>("Button3")->click();
    EXPECT_EQ(quits, 1);
}

TEST_F(MainWindow, UnwritableSettingsShowTheErrorAndTheCloseStillEnds) {
    home.write("blocker", "a regular file where a folder should be");
    start();
    window->IniFileName = home.path() + "/blocker/pagorama.ini";

    EXPECT_FALSE(window->close()); // [X] with autostart: still only hides
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.texts.first(), "Unable to write to " + window->IniFileName);
    EXPECT_EQ(quits, 0);

    window->Close1Click();
    EXPECT_EQ(messages.texts.size(), 2);
    EXPECT_EQ(quits, 1);
}

TEST_F(MainWindow, StartMessageIsPostedOnlyWithRefreshOnProgramStart) {
    writeSettings("[General]\nStartup=0\n");
    start();
    EXPECT_EQ(starts, 0);
    EXPECT_TRUE(window->Initialised);

    // The message is a posted event handled after the first showing.
    QCoreApplication::postEvent(window.get(), new QEvent(app::TMain::StartRefreshMessage));
    EXPECT_EQ(starts, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(starts, 1);
}

TEST_F(MainWindow, CancelTurnsOnlyARedLightYellow) {
    start();
    control<QPushButton>("Button4")->click();
    EXPECT_TRUE(window->Run->cancelRequested());
    EXPECT_EQ(window->Shape1->colour(), app::IdleColour);

    window->Shape1->setColour(app::RunningColour);
    window->PopupMenu1->findChild<QAction*>(QStringLiteral("CancelRefresh1"))->trigger();
    EXPECT_TRUE(window->Run->cancelRequested());
    EXPECT_EQ(window->Shape1->colour(), app::CancellingColour);
    EXPECT_EQ(quits, 0);
}

TEST_F(MainWindow, FavoritesChangesWaitForTheTimerUnlessIgnored) {
    home.write("Favorites/News/site.url", "[InternetShortcut]\nURL=http://localhost/\n");
    start();
    ASSERT_TRUE(window->FolderMonitor1->isActive());
    QDir favorites(home.favorites());
    ASSERT_TRUE(favorites.rename("News/site.url", "News/renamed.url"));
    QElapsedTimer waited;
    waited.start();
    while (!window->Run->favouritesChanged() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_TRUE(window->Run->favouritesChanged());

    // A shortcut the program writes itself is no change; one the user puts
    // there right after it is.
    window->Run->setFavouritesChanged(false);
    const QString own = home.favorites() + "/News/own.url";
    window->OwnFavouriteChanges.note(own);
    ASSERT_TRUE(platform::replaceFileWhole(own, "[InternetShortcut]\r\nURL=http://a/\r\n"));
    waited.restart();
    while (waited.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_FALSE(window->Run->favouritesChanged());
    home.write("Favorites/News/users.url", "[InternetShortcut]\nURL=http://b/\n");
    waited.restart();
    while (!window->Run->favouritesChanged() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_TRUE(window->Run->favouritesChanged());

    window->Run->setFavouritesChanged(false);
    control<QCheckBox>("cb_autorefresh")->setChecked(false);
    window->FolderMonitor1Change();
    EXPECT_FALSE(window->Run->favouritesChanged());
}

TEST_F(MainWindow, TimerCountsTicksTowardsTheIntervalOfTheControls) {
    start();
    EXPECT_EQ(window->Timer1->interval(), 30000);
    EXPECT_TRUE(window->Timer1->isActive());
    control<QSpinBox>("SpinEdit1")->setValue(1);
    for (int tick = 1; tick <= 3; ++tick)
        window->Timer1Timer();
    EXPECT_EQ(window->Schedule.ticks, 3);
    window->Timer1Timer();
    EXPECT_EQ(window->Schedule.ticks, 0); // the timed refresh started
    EXPECT_EQ(window->StatusText(app::TrayIconKind::Still),
              QStringLiteral("Auto Refresh will restart in 1 minutes\n\r\n\rRight click on the "
                             "Pagorama icon for the menu"));
    control<QCheckBox>("cb_timerefresh")->setChecked(false);
    for (int tick = 1; tick <= 10; ++tick)
        window->Timer1Timer();
    EXPECT_EQ(window->Schedule.ticks, 10);
    EXPECT_TRUE(
        window->StatusText(app::TrayIconKind::Still).startsWith("Timed Auto Refresh is OFF"));
}

TEST_F(MainWindow, AFavoritesRenameStartsARunAtTheNextTickAndAContentWriteDoesNot) {
    // https addresses are never fetched, so the run stays on this machine.
    home.write("Favorites/News/site.url", "[InternetShortcut]\r\nURL=https://example.invalid/\r\n");
    writeSettings("[General]\r\nStartup=0\r\nHistory=0\r\n");
    start();
    ASSERT_FALSE(QFile::exists(home.dataFolder() + "listings.xml"));
    auto waitForChange = [this](int ms) {
        QElapsedTimer waited;
        waited.start();
        while (!window->Run->favouritesChanged() && waited.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    };

    ASSERT_TRUE(QDir(home.favorites()).rename("News/site.url", "News/renamed.url"));
    waitForChange(10000);
    ASSERT_TRUE(window->Run->favouritesChanged());
    window->Timer1Timer();
    const QByteArray catalogue = home.read("Documents/pagorama/listings.xml");
    EXPECT_TRUE(catalogue.contains("DESCRIPTION=\"renamed\"")) << catalogue.constData();
    EXPECT_FALSE(window->Run->favouritesChanged());

    home.write("Favorites/News/renamed.url", "[InternetShortcut]\r\nURL=https://example.invalid/x\r\n");
    waitForChange(1500);
    EXPECT_FALSE(window->Run->favouritesChanged());
    window->Timer1Timer();
    EXPECT_EQ(home.read("Documents/pagorama/listings.xml"), catalogue); // no run
}

TEST_F(MainWindow, APictureJustMadeIsShownBesideTheStatusLine) {
    // An https favourite is never fetched: its picture is the secure-site card.
    home.write("Favorites/Bank.url", "[InternetShortcut]\r\nURL=https://bank.example.invalid/\r\n");
    writeSettings("[General]\r\nStartup=0\r\nHistory=0\r\n");
    start();
    ASSERT_EQ(control<QLabel>("Image1")->pixmap().isNull(), true);
    window->Button2Click();
    const QPixmap shown = control<QLabel>("Image1")->pixmap();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.size(), QSize(122, 122));
    EXPECT_EQ(QColor(shown.toImage().pixel(2, 2)), QColor(Qt::white));
}

// The window's side of the refresh host; pages and history are wired elsewhere.
class WindowOnlyHost : public app::WindowRefreshHost {
public:
    using WindowRefreshHost::WindowRefreshHost;
    void WriteSupportPages(const QByteArray&) override {}
    void WriteCataloguePages(const QByteArray&) override {}
    void runHistoryAnalysis() override {}
};

TEST_F(MainWindow, RunIndicatorsThroughTheRefreshHost) {
    start();
    WindowOnlyHost host(*window);
    host.setStatusLight(catalogue::RunLight::Running);
    EXPECT_EQ(window->Shape1->colour(), app::RunningColour);
    EXPECT_EQ(host.statusLight(), catalogue::RunLight::Running);
    window->Button3Click();
    EXPECT_EQ(host.statusLight(), catalogue::RunLight::Cancelling);

    host.setTrayAnimated(true);
    host.setRefreshControlsEnabled(false);
    EXPECT_EQ(window->VisibleTrayIcon(), app::TrayIconKind::Animated);
    EXPECT_FALSE(window->Button2->isEnabled());
    EXPECT_FALSE(window->Timer1->isActive());
    host.setProgressRange(12);
    host.setProgressPosition(5);
    EXPECT_EQ(window->ProgressBar1->maximum(), 12);
    EXPECT_EQ(window->ProgressBar1->value(), 5);

    testing::internal::CaptureStderr();
    host.setStatusText(QStringLiteral("Found 12 web favourites."));
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "Found 12 web favourites.\n"); // no display: one line on stderr
    EXPECT_EQ(window->Label1->text(), QStringLiteral("Found 12 web favourites."));

    host.setTrayAnimated(false);
    host.setRefreshControlsEnabled(true);
    EXPECT_EQ(window->VisibleTrayIcon(), app::TrayIconKind::Still);
    EXPECT_TRUE(window->Button2->isEnabled());
    EXPECT_TRUE(window->Timer1->isActive());
}

TEST_F(MainWindow, BackgroundPictureThatIsNotAJpegShowsAnErrorAndKeepsTheOldOne) {
    start();
    const QString back = home.dataFolder() + "_back.jpg";
    const QByteArray before = home.read("Documents/pagorama/_back.jpg");
    ASSERT_FALSE(before.isEmpty()); // the built-in default was written at creation
    home.write("pictures/holiday.jpg", "GIF89a not really a picture");
    home.write("pictures/cut.jpg", before.left(before.size() / 3));

    EXPECT_FALSE(window->LoadBackgroundPicture(home.path() + "/pictures/holiday.jpg"));
    EXPECT_FALSE(window->LoadBackgroundPicture(home.path() + "/pictures/cut.jpg"));
    ASSERT_EQ(messages.texts.size(), 2);
    EXPECT_TRUE(messages.texts[0].contains("holiday.jpg"));
    EXPECT_EQ(home.read("Documents/pagorama/_back.jpg"), before);

    // The program goes on: a good picture is taken afterwards.
    home.write("pictures/good.jpg", before);
    EXPECT_TRUE(window->LoadBackgroundPicture(home.path() + "/pictures/good.jpg"));
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

TEST_F(MainWindow, AnExceptionFromAHandlerShowsTheErrorBoxAndTheProgramGoesOn) {
    application();
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(thrower.handled, 2);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.texts.first(), QStringLiteral("Disk full while writing the page"));
}

// Every visible control lies inside its container and clear of its
// siblings, and is wide enough for its text.
void expectTidy(QWidget* container, const QString& where) {
    const QRect inside = container->contentsRect();
    const QList<QWidget*> children =
        container->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QList<QWidget*> controls;
    for (QWidget* child : children)
        if (child->isVisible() && !child->objectName().isEmpty() && !child->isWindow())
            controls << child;
    for (QWidget* child : controls) {
        const QString name = where + "/" + child->objectName();
        EXPECT_TRUE(inside.contains(child->geometry()))
            << name.toStdString() << " reaches beyond its container";
        const bool hasText = qobject_cast<QCheckBox*>(child) || qobject_cast<QPushButton*>(child) ||
                             (qobject_cast<QLabel*>(child) && child->objectName() != "Image1");
        if (hasText) {
            EXPECT_GE(child->width(), child->sizeHint().width())
                << name.toStdString() << " clips its text";
            EXPECT_GE(child->height(), child->sizeHint().height()) << name.toStdString();
        }
    }
    for (int a = 0; a < controls.size(); ++a)
        for (int b = a + 1; b < controls.size(); ++b)
            EXPECT_FALSE(controls[a]->geometry().intersects(controls[b]->geometry()))
                << (where + ": " + controls[a]->objectName() + " overlaps " +
                    controls[b]->objectName())
                       .toStdString();
}

// The server log display is brought up to date a few times a second.
bool displayShows(QPlainTextEdit* display, const QString& text) {
    QElapsedTimer waited;
    waited.start();
    while (!display->toPlainText().contains(text) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return display->toPlainText().contains(text);
}

TEST_F(MainWindow, ServerLogDisplayShowsEachLineOnceAndTakesTyping) {
    start();
    auto* display = control<QPlainTextEdit>("DisplayMemo");
    webserver::ServerLog& log = window->HttpServer1->log();
    QStringList expected;
    for (int i = 1; i <= 250; ++i) {
        log.logLine(QStringLiteral("line %1").arg(i));
        if (i >= 50)
            expected << QStringLiteral("line %1").arg(i);
    }
    // Lines logged while the window was hidden show when it is shown.
    window->show();
    control<QTabWidget>("PageControl1")->setCurrentIndex(1);
    ASSERT_TRUE(displayShows(display, "line 250"));
    EXPECT_EQ(display->toPlainText().split('\n'), expected);

    // The user can select and type in it; later lines come after the typing.
    EXPECT_FALSE(display->isReadOnly());
    display->moveCursor(QTextCursor::End);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(display, &key);
    EXPECT_TRUE(display->toPlainText().endsWith("line 250x"));
    log.logLine(QStringLiteral("line 251"));
    ASSERT_TRUE(displayShows(display, "line 251"));
    const QStringList shown = display->toPlainText().split('\n');
    EXPECT_EQ(shown.size(), webserver::ServerLog::DisplayLimit);
    EXPECT_EQ(shown.mid(shown.size() - 2), (QStringList{"line 250x", "line 251"}));

    control<QPushButton>("ClearButton")->click();
    EXPECT_TRUE(display->toPlainText().isEmpty());
}

TEST_F(MainWindow, ClientCountShowsTheLatestCountWhenItsTabIsShown) {
    start();
    auto* label = control<QLabel>("ClientCountLabel"); // on the first tab
    auto* tabs = control<QTabWidget>("PageControl1");
    emit window->HttpServer1->clientCountChanged(3);
    window->show();
    EXPECT_EQ(label->text(), "3");
    emit window->HttpServer1->clientCountChanged(5);
    EXPECT_EQ(label->text(), "5");
    tabs->setCurrentIndex(1);
    emit window->HttpServer1->clientCountChanged(1);
    emit window->HttpServer1->clientCountChanged(0);
    tabs->setCurrentIndex(0);
    EXPECT_EQ(label->text(), "0");
}

TEST_F(MainWindow, BothTabsAreTidy) {
    start();
    window->show();
    auto* tabs = control<QTabWidget>("PageControl1");
    const QString shots = qEnvironmentVariable("PAGORAMA_SCREENSHOT_DIR");
    const char* files[] = {"main-setup.png", "web-server.png"};
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        expectTidy(window.get(), "TMain");
        expectTidy(tabs->widget(tab), tabs->tabText(tab));
        if (tab == 0)
            expectTidy(control<QGroupBox>("GroupBox1"), "GroupBox1");
        // The longest sort entry fits the drop-down without being cut.
        auto* sortBy = control<QComboBox>("sort_by");
        const int longest = sortBy->fontMetrics().horizontalAdvance(sortBy->itemText(1));
        EXPECT_LT(longest, sortBy->width() - 20);
        if (!shots.isEmpty()) {
            EXPECT_TRUE(window->grab().save(shots + "/" + files[tab]));
        }
    }
    if (!shots.isEmpty()) {
        app::Tfirst_run firstRun;
        firstRun.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(firstRun.grab().save(shots + "/first-run.png"));
        app::Trunning running;
        running.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(running.grab().save(shots + "/already-running.png"));
    }
}

} // namespace
