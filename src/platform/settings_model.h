#pragma once
// The one settings model of the program. The configuration window's controls
// are views of it and the core reads it. It is filled from the settings file
// once at the first showing and written back at every close request.
#include <QObject>
#include <QString>

namespace platform {

class SettingsModel : public QObject {
    Q_OBJECT
public:
    explicit SettingsModel(QObject* parent = nullptr) : QObject(parent) {}

    // Ranges of the two spin values.
    static constexpr int IntervalMin = 1, IntervalMax = 10000;
    static constexpr int ThresholdMin = 1, ThresholdMax = 1000;
    static constexpr int SortByCount = 5;

    // [WindowMain]
    int top = 0, left = 0;     // window position (defaults centre the window)
    int width = 0, height = 0; // outer size, written for information only

    // [Data]
    QString port = QStringLiteral("80"); // text of PortEdit
    bool displayHeader = false;          // DisplayHeaderCheckBox
    bool logToFile = false;              // WriteLogFileCheckBox
    bool shareOnNetwork = false;         // ShareOnNetworkCheckBox: listen on every interface
    // Written from the last start of the web server; never read back.
    QString serverPort = QStringLiteral("80");
    QString docDir;
    QString defaultDoc;

    // [General]
    bool autorefresh = true;   // cb_autorefresh
    bool history = true;       // cb_History
    bool newPage = true;       // cb_newpage
    bool startup = true;       // cb_startup
    bool autoStart = true;     // cb_autostart
    bool timeRefresh = true;   // cb_timerefresh
    bool newOnly = true;       // cb_newonly
    bool showCode = false;     // cb_ShowCode
    bool homePage = false;     // cb_homepage
    bool secureSites = false;  // cb_SecureSites: probe and picture "https://" sites
    int historyThreshold = 10; // SpinEdit2
    int interval = 120;        // SpinEdit1
    int sortBy = 0;            // sort_by index, -1 when nothing is selected
    int evenFileName = 1;      // run counter
    // "ImportBookmarks": the browser whose new bookmarks each run imports
    // first ("chromium", "firefox" or "all"; empty: none). Set in the file only;
    // the file keeps it as the user wrote it.
    QString importBookmarks;

    // Clamp helpers used by readers and by the spin controls.
    static int clampInterval(int minutes);
    static int clampThreshold(int visits);

    // Reads the settings file (a missing file reads as empty; nothing is
    // created). screenWidth/Height and windowWidth/Height give the centring
    // defaults of Top and Left.
    void read(const QString& iniPath, int screenWidth, int screenHeight, int windowWidth,
              int windowHeight);
    // Writes every key in file order; unknown sections and keys are kept.
    // On failure returns false with "Unable to write to <path>" in *error and
    // leaves the old file as it was.
    bool write(const QString& iniPath, QString* error);

signals:
    // Emitted by whoever changes values outside the controls (reading the
    // file), so the controls can refresh themselves.
    void changed();
};

} // namespace platform
