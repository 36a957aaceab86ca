#include "platform/settings_model.h"

#include "platform/ini_file.h"

#include <algorithm>

namespace platform {

namespace {

const QString windowMain = QStringLiteral("WindowMain");
const QString data = QStringLiteral("Data");
const QString general = QStringLiteral("General");

bool readFlag(const IniFile& ini, const QString& key, bool fallback) {
    return ini.readInt(general, key, fallback ? 1 : 0) != 0;
}

void writeFlag(IniFile& ini, const QString& section, const QString& key, bool value) {
    ini.writeInt(section, key, value ? 1 : 0);
}

} // namespace

int SettingsModel::clampInterval(int minutes) {
    return std::clamp(minutes, IntervalMin, IntervalMax);
}

int SettingsModel::clampThreshold(int visits) {
    return std::clamp(visits, ThresholdMin, ThresholdMax);
}

void SettingsModel::read(const QString& iniPath, int screenWidth, int screenHeight, int windowWidth,
                         int windowHeight) {
    const IniFile ini(iniPath);

    top = ini.readInt(windowMain, QStringLiteral("Top"), (screenHeight - windowHeight) / 2);
    left = ini.readInt(windowMain, QStringLiteral("Left"), (screenWidth - windowWidth) / 2);

    port = ini.readString(data, QStringLiteral("Port"), QStringLiteral("80"));
    // Until the server is started with another port, saving keeps this one.
    serverPort = port.trimmed();
    displayHeader = ini.readInt(data, QStringLiteral("DisplayHeader"), 0) != 0;
    logToFile = ini.readInt(data, QStringLiteral("LogToFile"), 0) != 0;
    shareOnNetwork = ini.readInt(data, QStringLiteral("ShareOnNetwork"), 0) != 0;

    autorefresh = readFlag(ini, QStringLiteral("Autorefresh"), true);
    history = readFlag(ini, QStringLiteral("History"), true);
    newPage = readFlag(ini, QStringLiteral("NewPage"), true);
    startup = readFlag(ini, QStringLiteral("Startup"), true);
    autoStart = readFlag(ini, QStringLiteral("AutoStart"), true);
    timeRefresh = readFlag(ini, QStringLiteral("Time_refresh"), true);
    newOnly = readFlag(ini, QStringLiteral("New_Only"), true);
    showCode = readFlag(ini, QStringLiteral("ShowCode"), false);
    homePage = readFlag(ini, QStringLiteral("HomePage"), false);
    secureSites = readFlag(ini, QStringLiteral("SecureSites"), false);
    historyThreshold =
        clampThreshold(ini.readInt(general, QStringLiteral("History_threshhold"), 10));
    interval = clampInterval(ini.readInt(general, QStringLiteral("Interval"), 120));
    sortBy = ini.readInt(general, QStringLiteral("SortBy"), 0);
    if (sortBy < 0 || sortBy >= SortByCount)
        sortBy = -1; // the drop-down list shows no selection
    evenFileName = ini.readInt(general, QStringLiteral("EvenFileName"), 1);
    importBookmarks =
        ini.readString(general, QStringLiteral("ImportBookmarks"), QString()).trimmed();

    emit changed();
}

bool SettingsModel::write(const QString& iniPath, QString* error) {
    IniFile ini(iniPath);

    ini.writeInt(windowMain, QStringLiteral("Top"), top);
    ini.writeInt(windowMain, QStringLiteral("Left"), left);
    ini.writeInt(windowMain, QStringLiteral("Width"), width);
    ini.writeInt(windowMain, QStringLiteral("Height"), height);

    ini.writeString(data, QStringLiteral("DocDir"), docDir);
    ini.writeString(data, QStringLiteral("DefaultDoc"), defaultDoc);
    ini.writeString(data, QStringLiteral("Port"), serverPort);
    writeFlag(ini, data, QStringLiteral("DisplayHeader"), displayHeader);
    writeFlag(ini, data, QStringLiteral("LogToFile"), logToFile);
    writeFlag(ini, data, QStringLiteral("ShareOnNetwork"), shareOnNetwork);

    writeFlag(ini, general, QStringLiteral("Autorefresh"), autorefresh);
    writeFlag(ini, general, QStringLiteral("History"), history);
    writeFlag(ini, general, QStringLiteral("AutoStart"), autoStart);
    writeFlag(ini, general, QStringLiteral("NewPage"), newPage);
    writeFlag(ini, general, QStringLiteral("Startup"), startup);
    writeFlag(ini, general, QStringLiteral("Time_refresh"), timeRefresh);
    writeFlag(ini, general, QStringLiteral("New_only"), newOnly);
    writeFlag(ini, general, QStringLiteral("Showcode"), showCode);
    writeFlag(ini, general, QStringLiteral("HomePage"), homePage);
    ini.writeInt(general, QStringLiteral("Interval"), clampInterval(interval));
    ini.writeInt(general, QStringLiteral("History_threshhold"), clampThreshold(historyThreshold));
    ini.writeInt(general, QStringLiteral("EvenFileName"), evenFileName);
    ini.writeInt(general, QStringLiteral("SortBy"),
                 sortBy >= 0 && sortBy < SortByCount ? sortBy : -1);
    writeFlag(ini, general, QStringLiteral("SecureSites"), secureSites);

    if (ini.save())
        return true;
    if (error)
        *error = QStringLiteral("Unable to write to %1").arg(iniPath);
    return false;
}

} // namespace platform
