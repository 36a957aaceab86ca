// The configuration window: its controls and their defaults, the close box,
// the tray menu and buttons, the run's indicators, the server log display
// and a tidy layout on both tabs. The controls are found by object name.
#include "app/first_run_dialog.h"
#include "app/running_dialog.h"
#include "app/status_light.h"
#include "catalogue/refresh_run.h"
#include "support/program_fixture.h"
#include "webserver/server_log.h"
#include "webserver/web_server_controller.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
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

#include <gtest/gtest.h>

namespace {

class MainWindow : public testsupport::ProgramFixture {
public:
    void start(bool serve = false) { ProgramFixture::start(true, serve); }
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
    EXPECT_EQ(test.core->Settings.left,
              (screen.width() - test.window->frameGeometry().width()) / 2);
    EXPECT_EQ(test.core->Settings.top,
              (screen.height() - test.window->frameGeometry().height()) / 2);
    // With "Refresh on program start" the start message arrives once.
    EXPECT_EQ(test.starts, 1);
}

TEST_F(MainWindow, DefaultsWithoutASettingsFile) {
    start();
    expectDefaults(*this);
}

TEST_F(MainWindow, DefaultsWithAnEmptySettingsFile) {
    writeSettings("");
    start();
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
    for (QAction* action : control<QMenu>("PopupMenu1")->actions())
        menu << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(menu, QStringList({"Manually &Refresh", "C&ancel Refresh", "-", "&Configure", "-",
                                 "Instructions", "-", "C&lose"}));
}

TEST_F(MainWindow, ControlsShowTheFileAndWriteChangesToTheModelAtOnce) {
    const QByteArray port = QByteArray::number(testsupport::freePort());
    writeSettings("[Data]\nPort=" + port +
                  "\n[General]\nInterval=0\nHistory_threshhold=5000\n"
                  "SortBy=9\nAutoStart=0\nshowcode=1\n");
    start(true);
    EXPECT_EQ(control<QSpinBox>("SpinEdit1")->value(), 1);
    EXPECT_EQ(control<QSpinBox>("SpinEdit2")->value(), 1000);
    EXPECT_EQ(control<QComboBox>("sort_by")->currentIndex(), -1);
    EXPECT_FALSE(control<QCheckBox>("cb_autostart")->isChecked());
    EXPECT_TRUE(control<QCheckBox>("cb_ShowCode")->isChecked());
    EXPECT_EQ(control<QLineEdit>("PortEdit")->text(), QString::fromLatin1(port));

    control<QCheckBox>("cb_newpage")->setChecked(false);
    control<QCheckBox>("cb_SecureSites")->setChecked(true);
    EXPECT_TRUE(core->Settings.secureSites);
    control<QSpinBox>("SpinEdit1")->setValue(45);
    control<QComboBox>("sort_by")->setCurrentIndex(3);
    EXPECT_FALSE(core->Settings.newPage);
    EXPECT_EQ(core->Settings.interval, 45);
    EXPECT_EQ(core->Settings.sortBy, 3);

    ASSERT_TRUE(core->HttpServer1->isListening());
    // A port typed but never used to start the server is not saved.
    control<QLineEdit>("PortEdit")->setText(QStringLiteral("9090"));
    EXPECT_EQ(core->Settings.port, QStringLiteral("9090"));

    core->Close1Click();
    const QByteArray saved = settingsText();
    EXPECT_EQ(home.setting("Data", "Port"), QString::fromLatin1(port));
    EXPECT_EQ(home.setting("Data", "ShareOnNetwork"), "0");
    EXPECT_EQ(home.setting("General", "NewPage"), "0");
    EXPECT_EQ(home.setting("General", "SecureSites"), "1");
    EXPECT_EQ(home.setting("General", "Interval"), "45");
    EXPECT_EQ(home.setting("General", "SortBy"), "3");
    EXPECT_EQ(home.setting("General", "History_threshhold"), "1000");
}

TEST_F(MainWindow, SharingTheServerListensOnEveryInterfaceUntilUnticked) {
    writeSettings("[Data]\nPort=0\nShareOnNetwork=1\n[General]\nStartup=0\nAutoStart=0\n");
    start(true);
    auto* share = control<QCheckBox>("ShareOnNetworkCheckBox");
    ASSERT_TRUE(core->HttpServer1->isListening());
    EXPECT_TRUE(share->isChecked());
    EXPECT_EQ(core->HttpServer1->server().addr(), QStringLiteral("0.0.0.0"));

    // Unticking takes effect at once: the server listens on loopback only.
    share->setChecked(false);
    EXPECT_TRUE(core->HttpServer1->isListening());
    EXPECT_EQ(core->HttpServer1->server().addr(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(core->Settings.shareOnNetwork);
    core->Close1Click();
    EXPECT_EQ(home.setting("Data", "ShareOnNetwork"), "0");
}

TEST_F(MainWindow, CloseBoxWithAutostartSavesAndStays) {
    start();
    ASSERT_TRUE(control<QCheckBox>("cb_autostart")->isChecked());
    EXPECT_FALSE(window->close());
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(core->Run().cancelRequested()); // no cancel for a close that only hides
    EXPECT_EQ(home.setting("General", "AutoStart"), "1");
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(" | "));
}

TEST_F(MainWindow, CloseBoxWithoutAutostartEnds) {
    start();
    control<QCheckBox>("cb_autostart")->setChecked(false);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(core->Run().cancelRequested()); // the run was cancelled first
    EXPECT_EQ(home.setting("General", "AutoStart"), "0");
}

TEST_F(MainWindow, CloseFromTheMenuAndShutdownButtonAlwaysEnd) {
    start();
    ASSERT_TRUE(control<QCheckBox>("cb_autostart")->isChecked());
    control<QMenu>("PopupMenu1")->findChild<QAction*>(QStringLiteral("Close1"))->trigger();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(core->CloseRequested);
    EXPECT_TRUE(core->Run().cancelRequested());
    EXPECT_FALSE(settingsText().isEmpty());

    start();
    control<QPushButton>("Button3")->click();
    EXPECT_EQ(quits, 1);
}

TEST_F(MainWindow, CancelTurnsOnlyARedLightYellow) {
    start();
    control<QPushButton>("Button4")->click();
    EXPECT_TRUE(core->Run().cancelRequested());
    EXPECT_EQ(control<app::StatusLight>("Shape1")->colour(), app::IdleColour);

    control<app::StatusLight>("Shape1")->setColour(app::RunningColour);
    control<QMenu>("PopupMenu1")->findChild<QAction*>(QStringLiteral("CancelRefresh1"))->trigger();
    EXPECT_TRUE(core->Run().cancelRequested());
    EXPECT_EQ(control<app::StatusLight>("Shape1")->colour(), app::CancellingColour);
    EXPECT_EQ(quits, 0);
}

TEST_F(MainWindow, APictureJustMadeIsShownBesideTheStatusLine) {
    // An https favourite is never fetched: its picture is the secure-site card.
    home.write("Favorites/Bank.url", "[InternetShortcut]\r\nURL=https://bank.example.invalid/\r\n");
    writeSettings("[General]\r\nStartup=0\r\nHistory=0\r\n");
    start();
    ASSERT_EQ(control<QLabel>("Image1")->pixmap().isNull(), true);
    core->Button2Click();
    const QPixmap shown = control<QLabel>("Image1")->pixmap();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.size(), QSize(122, 122));
    EXPECT_EQ(QColor(shown.toImage().pixel(2, 2)), QColor(Qt::white));
}

TEST_F(MainWindow, RunIndicatorsThroughTheRefreshHost) {
    start();
    catalogue::RefreshHost& host = core->RunHost();
    host.setStatusLight(catalogue::RunLight::Running);
    EXPECT_EQ(control<app::StatusLight>("Shape1")->colour(), app::RunningColour);
    EXPECT_EQ(host.statusLight(), catalogue::RunLight::Running);
    core->Button3Click();
    EXPECT_EQ(host.statusLight(), catalogue::RunLight::Cancelling);

    host.setTrayAnimated(true);
    host.setRefreshControlsEnabled(false);
    EXPECT_EQ(window->visibleTrayIcon(), app::TrayIconKind::Animated);
    EXPECT_FALSE(control<QPushButton>("Button2")->isEnabled());
    EXPECT_FALSE(core->Timer1->isActive());
    host.setProgressRange(12);
    host.setProgressPosition(5);
    EXPECT_EQ(control<QProgressBar>("ProgressBar1")->maximum(), 12);
    EXPECT_EQ(control<QProgressBar>("ProgressBar1")->value(), 5);

    testing::internal::CaptureStderr();
    host.setStatusText(QStringLiteral("Found 12 web favourites."));
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, ""); // the window shows it; stderr is for a program without one
    EXPECT_EQ(control<QLabel>("Label1")->text(), QStringLiteral("Found 12 web favourites."));

    host.setTrayAnimated(false);
    host.setRefreshControlsEnabled(true);
    EXPECT_EQ(window->visibleTrayIcon(), app::TrayIconKind::Still);
    EXPECT_TRUE(control<QPushButton>("Button2")->isEnabled());
    EXPECT_TRUE(core->Timer1->isActive());
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
    webserver::ServerLog& log = core->HttpServer1->log();
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
    emit core->HttpServer1->clientCountChanged(3);
    window->show();
    EXPECT_EQ(label->text(), "3");
    emit core->HttpServer1->clientCountChanged(5);
    EXPECT_EQ(label->text(), "5");
    tabs->setCurrentIndex(1);
    emit core->HttpServer1->clientCountChanged(1);
    emit core->HttpServer1->clientCountChanged(0);
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
