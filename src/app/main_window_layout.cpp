// The configuration window's controls: captions, hints, ranges and places.
// The window has a fixed size, so the controls are placed at fixed points.
#include "app/main_window.h"
#include "app/status_light.h"
#include "platform/settings_model.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

namespace app {

namespace {

template <typename Widget>
Widget* make(QWidget* parent, const char* name, QRect where, const QString& hint = {}) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(where);
    if (!hint.isEmpty())
        widget->setToolTip(hint);
    return widget;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& caption, QRect where,
                    const QString& hint = {}) {
    auto* box = make<QCheckBox>(parent, name, where, hint);
    box->setText(caption);
    return box;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, QRect where,
                    const QString& hint = {}) {
    auto* pushButton = make<QPushButton>(parent, name, where, hint);
    pushButton->setText(caption);
    pushButton->setAutoDefault(false);
    return pushButton;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, QRect where) {
    auto* text = make<QLabel>(parent, name, where);
    text->setText(caption);
    return text;
}

} // namespace

void TMain::buildControls() {
    PageControl1 = make<QTabWidget>(this, "PageControl1", QRect(4, 4, 421, 322));
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet1, QStringLiteral("Main Setup"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Web Server"));
    buildMainSetupTab();
    buildWebServerTab();

    Label1 = label(this, "Label1", QString(), QRect(8, 331, 258, 18));
    ProgressBar1 = make<QProgressBar>(this, "ProgressBar1", QRect(272, 332, 149, 16));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
}

void TMain::buildMainSetupTab() {
    QWidget* page = TabSheet1;
    GroupBox1 = make<QGroupBox>(page, "GroupBox1", QRect(4, 2, 236, 294));
    GroupBox1->setTitle(QStringLiteral("Settings"));
    QWidget* box = GroupBox1;

    cb_timerefresh = checkBox(
        box, "cb_timerefresh", QStringLiteral("Auto Refesh Every "), QRect(8, 18, 120, 20),
        QStringLiteral("Check this box to allow Pagorama to update your web page images every X "
                       "minutes"));
    SpinEdit1 =
        make<QSpinBox>(box, "SpinEdit1", QRect(129, 17, 56, 22),
                       QStringLiteral("Select how many minutes duration to wait between Surfs"));
    SpinEdit1->setRange(platform::SettingsModel::IntervalMin, platform::SettingsModel::IntervalMax);
    label(box, "MinutesLabel", QStringLiteral("minutes"), QRect(188, 18, 42, 20));

    cb_autorefresh = checkBox(
        box, "cb_autorefresh", QStringLiteral("Autorefresh if Favourites change"),
        QRect(8, 41, 220, 20),
        QStringLiteral("Check this box so the Pagorama will update if anything changes your "
                       "Favourites"));
    cb_startup = checkBox(box, "cb_startup", QStringLiteral("Refresh on program start"),
                          QRect(8, 61, 220, 20),
                          QStringLiteral("Check this box if you want your web site images "
                                         "updating when Pagorama starts."));
    cb_newpage = checkBox(
        box, "cb_newpage", QStringLiteral("New Page per Folder"), QRect(8, 81, 220, 20),
        QStringLiteral("Check this box if you wish to have a web page per favourites folder."));
    cb_homepage =
        checkBox(box, "cb_homepage", QStringLiteral("Home Page on header"), QRect(8, 101, 220, 20),
                 QStringLiteral("Show your old Home Page at the top of all favourites."));

    label(box, "SortByLabel", QStringLiteral("Sort Favorites "), QRect(8, 123, 220, 16));
    sort_by = make<QComboBox>(box, "sort_by", QRect(8, 139, 220, 22));
    sort_by->addItems(
        {QStringLiteral("Alphabetically"), QStringLiteral("Using Internet Explorer Organizer"),
         QStringLiteral("By Creation Date (Ascending)"),
         QStringLiteral("By Creation Date (Descending)"), QStringLiteral("Randomly")});

    cb_newonly = checkBox(
        box, "cb_newonly", QStringLiteral("Get only if a new site"), QRect(8, 165, 220, 20),
        QStringLiteral("Check this box if you only want Pagorama to get images for new "
                       "favourites. Existing favourites will NOT be updated."));
    cb_ShowCode = checkBox(
        box, "cb_ShowCode", QStringLiteral("Display Error Code if page unavailable"),
        QRect(8, 185, 222, 20),
        QStringLiteral("Check this box to display any error messages if a web site can not be "
                       "reached. If the box is unchecked then Pagorama will use an old image if "
                       "one exists."));
    cb_History = checkBox(
        box, "cb_History", QStringLiteral("Analyser History if visited at least"),
        QRect(8, 205, 220, 20),
        QStringLiteral("Check this box if you wish Pagorama to analyse your web browsing history "
                       "and produce a suggestions page.\r\nOnly pages that have been visited more "
                       "than X times will be show."));
    SpinEdit2 = make<QSpinBox>(box, "SpinEdit2", QRect(26, 226, 56, 22),
                               QStringLiteral("Select how many times a web site should have been "
                                              "visited to become recommended."));
    SpinEdit2->setRange(platform::SettingsModel::ThresholdMin,
                        platform::SettingsModel::ThresholdMax);
    label(box, "TimesLabel", QStringLiteral("times"), QRect(86, 227, 40, 20));
    cb_autostart = checkBox(
        box, "cb_autostart", QStringLiteral("Start Pagorama with Windows"), QRect(8, 252, 220, 20),
        QStringLiteral("Check this box if you want Pagorama to start when Windows starts. If this "
                       "box is checked, then the Close button [X] will minimise the program."));
    cb_SecureSites = checkBox(
        box, "cb_SecureSites", QStringLiteral("Picture secure (https) sites"),
        QRect(8, 272, 220, 19),
        QStringLiteral("Check this box to have Pagorama fetch and picture https sites, checking "
                       "each site's certificate. A site whose certificate cannot be trusted "
                       "shows \"Certificate Error\". Unchecked, https sites show \"Secure "
                       "Site\"."));

    // The right-hand column: the picture in the making, the run light and the actions.
    Image1 = make<QLabel>(page, "Image1", QRect(268, 6, 122, 122));
    Image1->setFrameShape(QFrame::Box);
    Image1->setAlignment(Qt::AlignCenter);

    Shape1 = make<StatusLight>(
        page, "Shape1", QRect(250, 136, 18, 18),
        QStringLiteral("Status of Pagorama:\r\nGreen - Not Surfing\r\nRed - Surfing\r\nYellow - "
                       "Cancelling current web page."));
    Label5 = label(page, "Label5", QStringLiteral("Clients"), QRect(276, 137, 40, 16));
    ClientCountLabel =
        label(page, "ClientCountLabel", QStringLiteral("0"), QRect(318, 137, 60, 16));

    Button2 = button(page, "Button2", QStringLiteral("Manually Refresh"), QRect(246, 160, 167, 22),
                     QStringLiteral("Start Pagorama refreshing pages now."));
    Button4 = button(page, "Button4", QStringLiteral("Cancel Refresh"), QRect(246, 184, 167, 22),
                     QStringLiteral("Cancel Pagorama refreshing pages. This may take a few minutes "
                                    "as the current page will be finished first."));
    Button5 =
        button(page, "Button5", QStringLiteral("Load Background graphic"), QRect(246, 208, 167, 22),
               QStringLiteral("Load a different image to the background of the web pages "
                              "Pagorama creates."));
    Button6 = button(page, "Button6", QStringLiteral("&Close Pagorama Configuration"),
                     QRect(246, 232, 167, 22), QStringLiteral("Close this form."));
    Button3 =
        button(page, "Button3", QStringLiteral("&Shutdown Pagorama"), QRect(246, 256, 167, 22),
               QStringLiteral("Cancel what Pagorama is doing and then Close."));
}

void TMain::buildWebServerTab() {
    QWidget* page = TabSheet2;
    DisplayHeaderCheckBox = checkBox(page, "DisplayHeaderCheckBox",
                                     QStringLiteral("Display Header"), QRect(6, 6, 110, 20));
    WriteLogFileCheckBox = checkBox(
        page, "WriteLogFileCheckBox", QStringLiteral("Write web server to log file"),
        QRect(120, 6, 170, 20),
        QStringLiteral("Check this box to write all the web server transactions to a log file. "
                       "Not usually required."));
    ClearButton = button(page, "ClearButton", QStringLiteral("&Clear Log"), QRect(329, 5, 84, 22));

    Label3 = label(page, "Label3", QStringLiteral("Web Server Port"), QRect(6, 35, 84, 16));
    PortEdit = make<QLineEdit>(
        page, "PortEdit", QRect(92, 32, 60, 22),
        QStringLiteral("Set the port the internal server uses. Normally this should be port 80. "));
    StartButton = button(page, "StartButton", QStringLiteral("&Start Web Server"),
                         QRect(196, 32, 106, 22), QStringLiteral("Start the internal web server"));
    StopButton = button(page, "StopButton", QStringLiteral("St&op Web Server"),
                        QRect(307, 32, 106, 22), QStringLiteral("Stop the internal web server"));

    ShareOnNetworkCheckBox = checkBox(
        page, "ShareOnNetworkCheckBox", QStringLiteral("Let other computers view the pages"),
        QRect(6, 58, 300, 20),
        QStringLiteral("Check this box to let other computers on your network view the pages. "
                       "Editing and the browsing history stay on this computer."));

    DisplayMemo = make<QPlainTextEdit>(page, "DisplayMemo", QRect(4, 82, 409, 210));
    DisplayMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
}

} // namespace app
