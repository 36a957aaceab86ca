#include "app/main_window.h"

#include "app/background_picture.h"
#include "app/browser_integration.h"
#include "app/empty_favorites_offer.h"
#include "app/first_run_dialog.h"
#include "app/product_page.h"
#include "app/program_refresh_host.h"
#include "app/resources_init.h"
#include "app/status_light.h"
#include "catalogue/date_number.h"
#include "catalogue/page_renderer.h"
#include "catalogue/refresh_run.h"
#include "catalogue/site_worker.h"
#include "history/history_analyser.h"
#include "pages/page_writer.h"
#include "platform/file_replace.h"
#include "platform/message_service.h"
#include "platform/paths.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace app {

namespace {

const QString TrayToolTip = QStringLiteral("Pagorama (Right click for menu)");
const QString ErrorCaption = QStringLiteral("Pagora");

void writeLineToStderr(const QString& text) {
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1String("\n\r"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s\n", flat.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

TMain::TMain(bool desktop, QWidget* parent) : QWidget(parent), desktop_(desktop) {
    setObjectName(QStringLiteral("Main"));
    FormCreate();
    // The first showing's start-up work runs as soon as the event loop
    // starts, whether or not the window is ever shown.
    QTimer::singleShot(0, this, &TMain::FormShow);
}

TMain::~TMain() = default;

// Window creation: paths, first-run dialog, timer, tray, data folder and
// default background, controls.
void TMain::FormCreate() {
    initResources();
    IniFileName = platform::settingsFilePath();
    if (!QFileInfo::exists(IniFileName))
        showFirstRun(desktop_);
    offerBookmarkImport(desktop_);
    LogFileName = platform::serverLogFilePath();
    CloseRequested = false;

    setWindowTitle(QStringLiteral("Pagorama"));
    setWindowIcon(QIcon(QStringLiteral(":/app/pagorama.png")));
    // A dialog-like frame: minimise and close only, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(10);
    setFont(small);
    setFixedSize(ClientWidth, ClientHeight);
    buildControls();
    connectControlsToModel();
    ShowSettings();
    createParts();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(TimerIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &TMain::Timer1Timer);
    Timer1->start();

    AnimationTimer = new QTimer(this);
    AnimationTimer->setInterval(AnimationStepMs);
    connect(AnimationTimer, &QTimer::timeout, this, &TMain::stepAnimation);

    createTray();

    FolderMonitor1 = new platform::FolderMonitor(this);
    FolderMonitor1->setObjectName(QStringLiteral("FolderMonitor1"));
    connect(FolderMonitor1, &platform::FolderMonitor::change, this, &TMain::FolderMonitor1Change);
    FolderMonitor1->setIgnored(
        [this](const QString& path) { return OwnFavouriteChanges.isOwn(path); });
    FolderMonitor1->setFolder(platform::favoritesFolder());
    FolderMonitor1->setActive(true);

    const QString dataFolder = platform::dataFolder();
    QDir().mkpath(dataFolder);
    removeLeftovers(dataFolder);
    QString error;
    if (!ensureDefaultBackground(dataFolder, &error))
        writeLineToStderr(QStringLiteral("Unable to write the default background: ") + error);
}

// What an earlier copy of the program that ended abruptly may have left:
// temporary files of writes it did not finish, and browser profiles.
void TMain::removeLeftovers(const QString& dataFolder) {
    for (const QString& folder :
         {dataFolder, dataFolder + QStringLiteral("images"),
          dataFolder + QStringLiteral("images/history"), platform::programFolder()})
        platform::removeStaleTemporaryFiles(folder);
    catalogue::PageRenderer::removeStaleProfiles();
}

void TMain::createTray() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [this](const QString& caption, const char* name, auto handler) {
        QAction* action = PopupMenu1->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, handler);
    };
    add(QStringLiteral("Manually &Refresh"), "Refresh1", &TMain::Button2Click);
    add(QStringLiteral("C&ancel Refresh"), "CancelRefresh1", &TMain::Button3Click);
    PopupMenu1->addSeparator();
    add(QStringLiteral("&Configure"), "Configure1", &TMain::Configure1Click);
    PopupMenu1->addSeparator();
    add(QStringLiteral("Instructions"), "Instructions1", &TMain::Instructions1Click);
    PopupMenu1->addSeparator();
    add(QStringLiteral("C&lose"), "Close1", &TMain::Close1Click);

    stillIcon_ = QIcon(QStringLiteral(":/app/tray_still.png"));
    for (int frame = 1; frame <= 8; ++frame)
        frames_ << QIcon(QStringLiteral(":/app/tray_frame_%1.png").arg(frame));
    if (!desktop_)
        return; // without a display there are no icons

    auto makeIcon = [this](const char* name, const QIcon& icon) {
        auto* tray = new QSystemTrayIcon(icon, this);
        tray->setObjectName(QLatin1String(name));
        tray->setToolTip(TrayToolTip);
        tray->setContextMenu(PopupMenu1);
        // Tray hosts differ: a single click is taken as the double-click.
        connect(tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        TrayIcon1DblClick();
                });
        return tray;
    };
    statictray = makeIcon("statictray", stillIcon_);
    animatedtray = makeIcon("animatedtray", frames_.first());
    statictray->show();
}

// Each control writes its changes straight into the model.
void TMain::connectControlsToModel() {
    auto bindBox = [this](QCheckBox* box, bool platform::SettingsModel::*field) {
        connect(box, &QCheckBox::toggled, this, [this, field](bool on) {
            Settings.*field = on;
            refreshTrayToolTips();
        });
    };
    bindBox(cb_timerefresh, &platform::SettingsModel::timeRefresh);
    bindBox(cb_autorefresh, &platform::SettingsModel::autorefresh);
    bindBox(cb_startup, &platform::SettingsModel::startup);
    bindBox(cb_newpage, &platform::SettingsModel::newPage);
    bindBox(cb_homepage, &platform::SettingsModel::homePage);
    bindBox(cb_newonly, &platform::SettingsModel::newOnly);
    bindBox(cb_ShowCode, &platform::SettingsModel::showCode);
    bindBox(cb_History, &platform::SettingsModel::history);
    bindBox(cb_autostart, &platform::SettingsModel::autoStart);
    bindBox(cb_SecureSites, &platform::SettingsModel::secureSites);
    bindBox(DisplayHeaderCheckBox, &platform::SettingsModel::displayHeader);
    bindBox(WriteLogFileCheckBox, &platform::SettingsModel::logToFile);
    bindBox(ShareOnNetworkCheckBox, &platform::SettingsModel::shareOnNetwork);
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this](int minutes) {
        Settings.interval = minutes;
        refreshTrayToolTips();
    });
    connect(SpinEdit2, &QSpinBox::valueChanged, this,
            [this](int visits) { Settings.historyThreshold = visits; });
    connect(sort_by, &QComboBox::currentIndexChanged, this,
            [this](int index) { Settings.sortBy = index; });
    connect(PortEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { Settings.port = text; });
    connect(&Settings, &platform::SettingsModel::changed, this, &TMain::ShowSettings);

    connect(Button2, &QPushButton::clicked, this, &TMain::Button2Click);
    connect(Button4, &QPushButton::clicked, this, &TMain::Button3Click);
    connect(Button3, &QPushButton::clicked, this, &TMain::Close1Click);
    connect(Button5, &QPushButton::clicked, this, &TMain::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TMain::Button6Click);
    connect(StartButton, &QPushButton::clicked, this, &TMain::StartButtonClick);
    connect(StopButton, &QPushButton::clicked, this, &TMain::StopButtonClick);
    connect(ClearButton, &QPushButton::clicked, this, &TMain::ClearButtonClick);
    // A click (not a change made by the program) opens or closes the log file.
    connect(WriteLogFileCheckBox, &QCheckBox::clicked, this, &TMain::WriteLogFileCheckBoxClick);
}

void TMain::ShowSettings() {
    // Each control writes only its own value back into the model, so the
    // clamped spin values and an out-of-range sort index (no selection, -1)
    // are what will be saved.
    const platform::SettingsModel& values = Settings;
    cb_timerefresh->setChecked(values.timeRefresh);
    SpinEdit1->setValue(values.interval);
    cb_autorefresh->setChecked(values.autorefresh);
    cb_startup->setChecked(values.startup);
    cb_newpage->setChecked(values.newPage);
    cb_homepage->setChecked(values.homePage);
    sort_by->setCurrentIndex(
        values.sortBy >= 0 && values.sortBy < platform::SettingsModel::SortByCount ? values.sortBy
                                                                                   : -1);
    cb_newonly->setChecked(values.newOnly);
    cb_ShowCode->setChecked(values.showCode);
    cb_History->setChecked(values.history);
    SpinEdit2->setValue(values.historyThreshold);
    cb_autostart->setChecked(values.autoStart);
    cb_SecureSites->setChecked(values.secureSites);
    DisplayHeaderCheckBox->setChecked(values.displayHeader);
    WriteLogFileCheckBox->setChecked(values.logToFile);
    ShareOnNetworkCheckBox->setChecked(values.shareOnNetwork);
    PortEdit->setText(values.port);
}

void TMain::ReadSettings() {
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->geometry()
                             : QRect(0, 0, 1024, 768);
    const QRect frame = frameGeometry();
    Settings.read(IniFileName, screen.width(), screen.height(), frame.width(), frame.height());
    ShowSettings();
    move(Settings.left, Settings.top);
}

bool TMain::WriteSettings() {
    const QRect frame = frameGeometry();
    Settings.top = frame.top();
    Settings.left = frame.left();
    Settings.width = frame.width();
    Settings.height = frame.height();
    // A close during a run saves the counter of the pictures the pages on
    // disk show, not the one of the unfinished run.
    const int runCounter = Settings.evenFileName;
    Settings.evenFileName = Run->committedEvenFileName();
    QString error;
    const bool written = Settings.write(IniFileName, &error);
    Settings.evenFileName = runCounter;
    if (written)
        return true;
    platform::showMessage(error, ErrorCaption, platform::MessageKind::Error);
    return false;
}

void TMain::FormShow() {
    std::srand(unsigned(std::time(nullptr)));
    if (Initialised)
        return;
    Initialised = true;
    ReadSettings();
    if (WriteLogFileCheckBox->isChecked())
        OpenServerLogAtStart();
    ClientCountLabel->setText(QStringLiteral("0"));
    DisplayMemo->clear();
    WriteStartupBanner();
    StartWebServerAtStart();
    WriteSupportPagesAtStart();
    TakeOverStartPage();
    if (cb_startup->isChecked())
        QCoreApplication::postEvent(this, new QEvent(StartRefreshMessage));
    refreshTrayToolTips();
    // With a display but no tray the window is the only way in.
    if (desktop_ && !QSystemTrayIcon::isSystemTrayAvailable())
        Configure1Click();
}

void TMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

void TMain::customEvent(QEvent* event) {
    if (event->type() == StartRefreshMessage) {
        emit startRefreshMessageHandled();
        Button2Click();
        return;
    }
    QWidget::customEvent(event);
}

void TMain::FormCloseQuery() {
    if (!cb_autostart->isChecked() || CloseRequested) {
        // The program ends: the site fetch in progress is cut short rather
        // than waited for (its time-outs may add up to minutes), and no run
        // starts any more.
        Ending = true;
        SiteWorker1->abandonFetch();
        Button3Click();
    }
}

bool TMain::FormClose() {
    // A settings file that cannot be written has shown its error box; the
    // close still goes on, so the user can always end the program.
    WriteSettings();
    if (cb_autostart->isChecked() && !CloseRequested)
        return false;
    CloseServerLogAtEnd();
    UpdateAutostartEntry();
    return true;
}

void TMain::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    if (!FormClose()) {
        event->ignore();
        hideToTray();
        return;
    }
    event->accept();
    if (statictray)
        statictray->hide();
    if (animatedtray)
        animatedtray->hide();
    emit quitRequested();
}

void TMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised means tucked away in the tray: no taskbar button. Without a
    // tray the window stays minimised on the taskbar so it can be reached.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && desktop_ &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

void TMain::hideToTray() {
    if (!desktop_)
        return;
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void TMain::Configure1Click() {
    if (!desktop_)
        return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TMain::TrayIcon1DblClick() {
    Configure1Click();
}

void TMain::Close1Click() {
    CloseRequested = true;
    close();
}

void TMain::Button6Click() {
    hideToTray();
}

void TMain::Button5Click() {
    if (!desktop_)
        return;
    QFileDialog dialog(this, QStringLiteral("Select Image File"));
    dialog.setObjectName(QStringLiteral("OpenPictureDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    dialog.setNameFilters({QStringLiteral("JPEG pictures (*.jpg *.jpeg *.JPG *.JPEG)"),
                           QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    LoadBackgroundPicture(dialog.selectedFiles().first());
}

bool TMain::LoadBackgroundPicture(const QString& path) {
    QString error;
    if (installBackgroundPicture(path, platform::dataFolder(), &error))
        return true;
    platform::showMessage(error, ErrorCaption, platform::MessageKind::Error);
    return false;
}

void TMain::Button3Click() {
    // Sets CancelRequested, turns a red light yellow and waits for the site
    // fetch in progress while events keep flowing.
    Run->requestCancel();
    refreshTrayToolTips();
}

void TMain::Instructions1Click() {
    // The browser named by the ".htm" file type opens the product page.
    try {
        OpenInDefaultBrowser(productPageUrl().toString(QUrl::FullyEncoded));
    } catch (const IntegrationError& error) {
        platform::showMessage(QString::fromUtf8(error.what()), ErrorCaption,
                              platform::MessageKind::Error);
    }
}

void TMain::Timer1Timer() {
    if (Run->favouritesChanged())
        Button2Click();
    if (Schedule.tick(cb_timerefresh->isChecked(), SpinEdit1->value()))
        Button2Click();
    refreshTrayToolTips();
}

void TMain::FolderMonitor1Change() {
    // The program's own shortcut writes never arrive here (see setIgnored).
    if (cb_autorefresh->isChecked())
        Run->setFavouritesChanged(true);
}

QString TMain::StatusText(TrayIconKind kind) const {
    if (kind == TrayIconKind::Still)
        return idleStatusText(cb_timerefresh->isChecked(),
                              Schedule.minutesLeft(SpinEdit1->value()));
    RunProgress run;
    if (AnalysingHistory) {
        run.sitesTotal = HistoryAnalyser1->sitesTotal();
        run.sitesFetched = HistoryAnalyser1->sitesFetched();
        run.runStartTime = HistoryAnalyser1->runStartTime();
    } else {
        run.sitesTotal = Run->sitesTotal();
        run.sitesFetched = Run->sitesFetched();
        run.runStartTime = Run->runStartTime();
    }
    run.cancelRequested = Run->cancelRequested();
    return busyStatusText(run, catalogue::DateTimeNumber(QDateTime::currentDateTime()));
}

void TMain::ShowStatus(TrayIconKind kind) {
    const QString text = StatusText(kind);
    QSystemTrayIcon* icon = kind == TrayIconKind::Still ? statictray : animatedtray;
    if (icon)
        icon->setToolTip(toolTipText(text));
    // The family code of the old shell is 0 here, so the text never goes
    // into the window's hints; a balloon shows it when there is a tray.
    constexpr int OsFamily = 0;
    if (OsFamily == 2) {
        ProgressBar1->setToolTip(text);
        GroupBox1->setToolTip(text);
        Label1->setToolTip(text);
        return;
    }
    const bool taskbarOnScreen = QSystemTrayIcon::isSystemTrayAvailable();
    if (taskbarOnScreen && icon)
        icon->showMessage(balloonTitle(), text.left(BalloonTextMax), QSystemTrayIcon::Information,
                          10000);
}

void TMain::ShowStatus() {
    ShowStatus(VisibleTrayIcon());
}

void TMain::ShowStatusLine(const QString& text) {
    Label1->setText(text);
    if (!desktop_)
        writeLineToStderr(text);
}

void TMain::SetTrayAnimated(bool animated) {
    animatedShown_ = animated;
    animationFrame_ = 0;
    if (animated)
        AnimationTimer->start();
    else
        AnimationTimer->stop();
    if (animatedtray) {
        animatedtray->setIcon(frames_.first());
        animatedtray->setVisible(animated);
        statictray->setVisible(!animated);
    }
    refreshTrayToolTips();
}

void TMain::SetRefreshControlsEnabled(bool enabled) {
    Button2->setEnabled(enabled);
    if (enabled)
        Timer1->start();
    else
        Timer1->stop();
}

void TMain::stepAnimation() {
    animationFrame_ = (animationFrame_ + 1) % int(frames_.size());
    if (animatedtray)
        animatedtray->setIcon(frames_[animationFrame_]);
    // The elapsed minutes move on during a run; once per round is plenty.
    if (animationFrame_ == 0)
        refreshTrayToolTips();
}

// Tray hosts report no mouse-over, so each icon's tooltip always carries
// the status text the mouse-over would have shown.
void TMain::refreshTrayToolTips() {
    if (statictray)
        statictray->setToolTip(toolTipText(StatusText(TrayIconKind::Still)));
    if (animatedtray)
        animatedtray->setToolTip(toolTipText(StatusText(TrayIconKind::Animated)));
}

} // namespace app
