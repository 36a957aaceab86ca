#pragma once
// TMain: the program's one main window. It is a small fixed configuration
// window that stays hidden most of the time; it owns the long-lived parts
// (timer, tray icons, menu) and its controls are views of the settings model.
// The steps that belong to other parts of the program are plain member
// routines (OpenServerLogAtStart, StartWebServerAtStart, Button2Click, ...)
// filled in where those parts are wired together.
#include "app/refresh_schedule.h"
#include "app/status_text.h"
#include "platform/folder_monitor.h"
#include "platform/own_changes.h"
#include "platform/settings_model.h"

#include <QEvent>
#include <QIcon>
#include <QVector>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;

namespace catalogue {
class PageRenderer;
class RefreshRun;
class SiteWorker;
} // namespace catalogue
namespace history {
class HistoryAnalyser;
}
namespace pages {
class PageWriter;
}
namespace webserver {
class EditPostHandler;
class WebServerController;
}

namespace app {

class ProgramRefreshHost;
class StatusLight;

enum class TrayIconKind { Still, Animated };

class TMain : public QWidget {
    Q_OBJECT
public:
    // The private start message: a refresh run begins when it is delivered.
    static constexpr QEvent::Type StartRefreshMessage = QEvent::Type(QEvent::User + 25);
    static constexpr int ClientWidth = 429, ClientHeight = 353;
    static constexpr int AnimationStepMs = 180;

    // desktop: a display is present, so the window and the tray may be shown.
    explicit TMain(bool desktop, QWidget* parent = nullptr);
    ~TMain() override;

    bool desktop() const { return desktop_; }

    // The one settings model; the controls show and edit it.
    platform::SettingsModel Settings;

    // Paths computed at creation.
    QString IniFileName, LogFileName;

    // Start-up and close state. The run's own state (CancelRequested,
    // FavouritesChanged, progress) lives in Run.
    bool Initialised = false;
    bool CloseRequested = false;
    bool Ending = false; // a close that ends the program is under way

    // The timer's tick counter and the timed refresh rule.
    RefreshSchedule Schedule;

    // The shortcut files the program itself writes into the Favorites tree
    // (and removes again): the folder monitor passes over their notices.
    platform::OwnChanges OwnFavouriteChanges;
    platform::NoteOwnChange noteOwnFavouriteChange() {
        return [this](const QString& path) { OwnFavouriteChanges.note(path); };
    }

    // Components.
    QTimer* Timer1 = nullptr;
    QTimer* AnimationTimer = nullptr;
    QSystemTrayIcon* statictray = nullptr;   // none without a display
    QSystemTrayIcon* animatedtray = nullptr; // none without a display
    QMenu* PopupMenu1 = nullptr;
    platform::FolderMonitor* FolderMonitor1 = nullptr;
    webserver::WebServerController* HttpServer1 = nullptr;
    std::unique_ptr<pages::PageWriter> PageWriter1;
    std::unique_ptr<catalogue::PageRenderer> PageRenderer1;
    std::unique_ptr<ProgramRefreshHost> RunHost;
    std::unique_ptr<catalogue::RefreshRun> Run;
    std::unique_ptr<catalogue::SiteWorker> SiteWorker1;
    std::unique_ptr<history::HistoryAnalyser> HistoryAnalyser1;
    webserver::EditPostHandler* EditPosts = nullptr; // the edit and history forms
    bool AnalysingHistory = false; // the tray status follows the analysis meanwhile

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

    // Settings: file → model → controls, and model → file.
    void ReadSettings();
    bool WriteSettings(); // false (after its error box) when the file could not be written
    void ShowSettings();  // the model's values into the controls

    // Close rules. FormClose returns true when the program ends.
    void FormCloseQuery();
    bool FormClose();

    // Handlers.
    void FormShow(); // the first showing's start-up work, once
    void Configure1Click();
    void TrayIcon1DblClick();
    void Close1Click();
    void Button6Click();
    void Button5Click();
    bool LoadBackgroundPicture(const QString& path); // the work of Button5Click after the dialog
    void Button3Click();                             // cancel the refresh run
    void Instructions1Click();
    void Timer1Timer();
    void FolderMonitor1Change();

    // Status: the tray's status message and the status line.
    QString StatusText(TrayIconKind kind) const;
    void ShowStatus(TrayIconKind kind);
    void ShowStatus(); // with whichever icon is visible
    TrayIconKind VisibleTrayIcon() const {
        return animatedShown_ ? TrayIconKind::Animated : TrayIconKind::Still;
    }
    void ShowStatusLine(const QString& text); // Label1, and stderr without a display
    // Shows the picture named by a Link's IMAGE piece in Image1.
    void ShowPicturePreview(const QByteArray& link);

    // What a run does to the indicators: the animated icon in place of the
    // still one, and Button2 with Timer1 off for the run's duration.
    void SetTrayAnimated(bool animated);
    void SetRefreshControlsEnabled(bool enabled);

    // Steps of other parts, filled in when they are wired in.
    void OpenServerLogAtStart();
    void WriteStartupBanner();
    void StartWebServerAtStart();
    void WriteSupportPagesAtStart();
    void TakeOverStartPage();
    void Button2Click(); // start a refresh run
    // With the "ImportBookmarks" setting: the browser's bookmarks that no
    // earlier import has seen become favourites before the run.
    void ImportNewBookmarksBeforeRun();
    void StartButtonClick();
    void StopButtonClick();
    void WriteLogFileCheckBoxClick();
    void ClearButtonClick();
    void CloseServerLogAtEnd();
    void UpdateAutostartEntry();

signals:
    // The program is ending: the caller leaves the event loop.
    void quitRequested();
    // The private start message was delivered (before Button2Click runs).
    void startRefreshMessageHandled();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void FormCreate();
    void createParts(); // the server, page writer, renderer, worker and refresh run
    void buildControls();
    void buildMainSetupTab();
    void buildWebServerTab();
    void connectControlsToModel();
    void createTray();
    void removeLeftovers(const QString& dataFolder);
    void hideToTray();
    void refreshTrayToolTips();
    void stepAnimation();

    bool desktop_;
    bool animatedShown_ = false;
    int animationFrame_ = 0;
    QIcon stillIcon_;
    QVector<QIcon> frames_;
};

} // namespace app
