#include "app/main_window.h"

#include "app/log_display.h"
#include "app/program_core.h"
#include "app/resources_init.h"
#include "app/shown_update.h"
#include "app/status_light.h"
#include "app/tray_icons.h"
#include "platform/settings_model.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTimer>

namespace app {

TMain::TMain(ProgramCore& core, QWidget* parent) : QWidget(parent), core_(core) {
    setObjectName(QStringLiteral("Main"));
    initResources();
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
    showSettings();
    tray_ = std::make_unique<TrayIcons>(
        core_.desktop(), [this](TrayIconKind kind) { return core_.StatusText(kind); }, this);
    connectTray();
    core_.setView(this);
}

TMain::~TMain() {
    core_.setView(nullptr);
}

// Each control writes its changes straight into the model.
void TMain::connectControlsToModel() {
    platform::SettingsModel& settings = core_.Settings;
    auto bindBox = [this, &settings](QCheckBox* box, bool platform::SettingsModel::*field) {
        connect(box, &QCheckBox::toggled, this, [this, &settings, field](bool on) {
            settings.*field = on;
            statusChanged();
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
    bindBox(WriteLogFileCheckBox, &platform::SettingsModel::logToFile);
    // The server takes these two at once.
    connect(DisplayHeaderCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        core_.setDisplayHeader(on);
        statusChanged();
    });
    connect(ShareOnNetworkCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        core_.setShareOnNetwork(on);
        statusChanged();
    });
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this, &settings](int minutes) {
        settings.interval = minutes;
        statusChanged();
    });
    connect(SpinEdit2, &QSpinBox::valueChanged, this,
            [&settings](int visits) { settings.historyThreshold = visits; });
    connect(sort_by, &QComboBox::currentIndexChanged, this,
            [&settings](int index) { settings.sortBy = index; });
    connect(PortEdit, &QLineEdit::textChanged, this,
            [&settings](const QString& text) { settings.port = text; });
    connect(&settings, &platform::SettingsModel::changed, this, &TMain::showSettings);

    connect(Button2, &QPushButton::clicked, &core_, &ProgramCore::Button2Click);
    connect(Button4, &QPushButton::clicked, &core_, &ProgramCore::Button3Click);
    connect(Button3, &QPushButton::clicked, &core_, &ProgramCore::Close1Click);
    connect(Button5, &QPushButton::clicked, this, &TMain::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TMain::Button6Click);
    connect(StartButton, &QPushButton::clicked, &core_, &ProgramCore::StartButtonClick);
    connect(StopButton, &QPushButton::clicked, &core_, &ProgramCore::StopButtonClick);
    connect(ClearButton, &QPushButton::clicked, this, &TMain::ClearButtonClick);
    // A click (not a change made by the program) opens or closes the log file.
    connect(WriteLogFileCheckBox, &QCheckBox::clicked, this, &TMain::WriteLogFileCheckBoxClick);

    // The count changes twice with every request; the label follows it
    // while it is on screen.
    clientCount_ = new ShownUpdate(*ClientCountLabel, [this] {
        ClientCountLabel->setText(QString::number(shownClientCount_));
    });
    new LogDisplay(core_.serverLog(), *DisplayMemo); // owned by the display
}

void TMain::connectTray() {
    connect(tray_.get(), &TrayIcons::refreshChosen, &core_, &ProgramCore::Button2Click);
    connect(tray_.get(), &TrayIcons::cancelChosen, &core_, &ProgramCore::Button3Click);
    connect(tray_.get(), &TrayIcons::configureChosen, this, &TMain::Configure1Click);
    connect(tray_.get(), &TrayIcons::instructionsChosen, &core_, &ProgramCore::Instructions1Click);
    connect(tray_.get(), &TrayIcons::closeChosen, &core_, &ProgramCore::Close1Click);
    connect(tray_.get(), &TrayIcons::activated, this, &TMain::TrayIcon1DblClick);
    // The icons leave the tray before the program ends.
    connect(&core_, &ProgramCore::quitRequested, tray_.get(), &TrayIcons::hide);
}

void TMain::showSettings() {
    // Each control writes only its own value back into the model, so the
    // clamped spin values and an out-of-range sort index (no selection, -1)
    // are what will be saved.
    const platform::SettingsModel& values = core_.Settings;
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

void TMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    core_.FormShow();
}

void TMain::closeEvent(QCloseEvent* event) {
    if (!core_.closeProgram()) {
        event->ignore();
        hideToTray();
        return;
    }
    event->accept();
}

void TMain::closeWindow() {
    close();
}

void TMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised means tucked away in the tray: no taskbar button. Without a
    // tray the window stays minimised on the taskbar so it can be reached.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && core_.desktop() &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

void TMain::hideToTray() {
    if (!core_.desktop())
        return;
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void TMain::Configure1Click() {
    if (!core_.desktop())
        return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TMain::TrayIcon1DblClick() {
    Configure1Click();
}

void TMain::Button6Click() {
    hideToTray();
}

void TMain::Button5Click() {
    if (!core_.desktop())
        return;
    QFileDialog dialog(this, QStringLiteral("Select Image File"));
    dialog.setObjectName(QStringLiteral("OpenPictureDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    dialog.setNameFilters({QStringLiteral("JPEG pictures (*.jpg *.jpeg *.JPG *.JPEG)"),
                           QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    core_.LoadBackgroundPicture(dialog.selectedFiles().first());
}

void TMain::WriteLogFileCheckBoxClick() {
    WriteLogFileCheckBox->setChecked(core_.setWriteLogFile(WriteLogFileCheckBox->isChecked()));
}

void TMain::ClearButtonClick() {
    core_.clearServerLog();
    DisplayMemo->clear();
}

} // namespace app
