#pragma once
// TMain: the program's one main window. It is a small fixed configuration
// window that stays hidden most of the time; its controls are views of the
// core's settings model, and its buttons and the tray menu call the core's
// steps. It owns no part of the program: the core does.
#include "app/program_view.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace app {

class ProgramCore;
class ShownUpdate;
class StatusLight;
class TrayIcons;

class TMain : public QWidget, public ProgramView {
    Q_OBJECT
public:
    // Shows the core's state and becomes its view for the window's life.
    explicit TMain(ProgramCore& core, QWidget* parent = nullptr);
    ~TMain() override;

    // Controls, named as their objectName.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr; // "Main Setup"
    QWidget* TabSheet2 = nullptr; // "Web Server"
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* cb_timerefresh = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QCheckBox* cb_autorefresh = nullptr;
    QCheckBox* cb_startup = nullptr;
    QCheckBox* cb_newpage = nullptr;
    QCheckBox* cb_homepage = nullptr;
    QComboBox* sort_by = nullptr;
    QCheckBox* cb_newonly = nullptr;
    QCheckBox* cb_ShowCode = nullptr;
    QPushButton* Button5 = nullptr;
    QCheckBox* cb_History = nullptr;
    QSpinBox* SpinEdit2 = nullptr;
    QCheckBox* cb_autostart = nullptr;
    QCheckBox* cb_SecureSites = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* ClientCountLabel = nullptr;
    StatusLight* Shape1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button3 = nullptr;
    QLabel* Image1 = nullptr;
    QCheckBox* DisplayHeaderCheckBox = nullptr;
    QCheckBox* WriteLogFileCheckBox = nullptr;
    QCheckBox* ShareOnNetworkCheckBox = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* PortEdit = nullptr;
    QPushButton* ClearButton = nullptr;
    QPushButton* StartButton = nullptr;
    QPushButton* StopButton = nullptr;
    QPlainTextEdit* DisplayMemo = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    // Control handlers.
    void Configure1Click();
    void TrayIcon1DblClick();
    void Button5Click();
    void Button6Click();
    void WriteLogFileCheckBoxClick();
    void ClearButtonClick();

    // The view.
    void showStatusLine(const QString& text) override;
    void setProgressRange(int maximum) override;
    void setProgressPosition(int position) override;
    catalogue::RunLight statusLight() const override;
    void setStatusLight(catalogue::RunLight light) override;
    void setTrayAnimated(bool animated) override;
    TrayIconKind visibleTrayIcon() const override;
    void showTrayStatus() override;
    void statusChanged() override;
    void setRefreshEnabled(bool enabled) override;
    void showPicturePreview(const QImage& picture) override;
    void showClientCount(int count) override;
    void showServerListening(bool listening) override;
    void showSettings() override;
    void clearServerDisplays() override;
    QRect windowFrame() const override;
    void placeWindow(int left, int top) override;
    void startedUp() override;
    void closeWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    static constexpr int ClientWidth = 429, ClientHeight = 353;

    void buildControls();
    void buildMainSetupTab();
    void buildWebServerTab();
    void connectControlsToModel();
    void connectTray();
    void hideToTray();

    ProgramCore& core_;
    std::unique_ptr<TrayIcons> tray_;
    ShownUpdate* clientCount_ = nullptr;
    int shownClientCount_ = 0;
};

} // namespace app
