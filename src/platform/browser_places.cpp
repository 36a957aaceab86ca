#include "platform/browser_places.h"

#include "platform/paths.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

struct Place {
    QString browser;
    QString folder; // holds profiles.ini, or Local State
};

// Larger files are no profile list.
constexpr qint64 MaxListBytes = 16 * 1024 * 1024;

QList<Place> firefoxPlaces() {
    const QString home = homeFolder();
    return {
        {QStringLiteral("Firefox"), home + QStringLiteral("/.mozilla/firefox")},
        {QStringLiteral("Firefox"), configHome() + QStringLiteral("/mozilla/firefox")},
        {QStringLiteral("Firefox (snap)"),
         home + QStringLiteral("/snap/firefox/common/.mozilla/firefox")},
        {QStringLiteral("Firefox (flatpak)"),
         home + QStringLiteral("/.var/app/org.mozilla.firefox/.mozilla/firefox")},
        {QStringLiteral("Firefox (flatpak)"),
         home + QStringLiteral("/.var/app/org.mozilla.firefox/config/mozilla/firefox")},
    };
}

QList<Place> chromiumPlaces() {
    struct Browser {
        const char* name;
        const char* configFolder; // below the configuration folder
        const char* snap;         // below ~/snap, or null
        const char* flatpak;      // the flatpak's application id, or null
    };
    static const Browser browsers[] = {
        {"Chromium", "chromium", "chromium/common/chromium", "org.chromium.Chromium"},
        {"Google Chrome", "google-chrome", nullptr, "com.google.Chrome"},
        {"Brave", "BraveSoftware/Brave-Browser",
         "brave/current/.config/BraveSoftware/Brave-Browser", "com.brave.Browser"},
        {"Vivaldi", "vivaldi", "vivaldi/current/.config/vivaldi", "com.vivaldi.Vivaldi"},
        {"Microsoft Edge", "microsoft-edge", nullptr, "com.microsoft.Edge"},
    };
    const QString home = homeFolder();
    QList<Place> places;
    for (const Browser& b : browsers) {
        const QString name = QLatin1String(b.name), folder = QLatin1String(b.configFolder);
        places.append({name, configHome() + '/' + folder});
        if (b.snap)
            places.append({name + QStringLiteral(" (snap)"),
                           home + QStringLiteral("/snap/") + QLatin1String(b.snap)});
        if (b.flatpak)
            places.append({name + QStringLiteral(" (flatpak)"),
                           home + QStringLiteral("/.var/app/") + QLatin1String(b.flatpak) +
                               QStringLiteral("/config/") + folder});
    }
    return places;
}

enum class Resolved { Folder, Missing, Problem };

// The folder with every symbolic link resolved; why not, for a problem.
Resolved resolveFolder(const QString& path, QString* resolved, QString* why) {
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), buffer)) {
        const int error = errno;
        if (error == ENOENT)
            return Resolved::Missing;
        *why = error == ELOOP ? QStringLiteral("a loop of symbolic links")
                              : QString::fromLocal8Bit(std::strerror(error));
        return Resolved::Problem;
    }
    *resolved = QFile::decodeName(buffer);
    if (!QFileInfo(*resolved).isDir()) {
        *why = QStringLiteral("not a folder");
        return Resolved::Problem;
    }
    return Resolved::Folder;
}

bool readSmallFile(const QString& path, QByteArray* contents, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return false;
    }
    *contents = file.read(MaxListBytes + 1);
    if (contents->size() > MaxListBytes) {
        *why = QStringLiteral("too large");
        return false;
    }
    return true;
}

class Finder {
public:
    explicit Finder(BrowserFamily family) : family_(family) {}

    void addPlace(const Place& place) {
        QString base, why;
        switch (resolveFolder(place.folder, &base, &why)) {
        case Resolved::Missing:
            return;
        case Resolved::Problem:
            skip(place.folder, why);
            return;
        case Resolved::Folder:
            break;
        }
        if (!places_.contains(base)) {
            places_.insert(base);
            family_ == BrowserFamily::Firefox ? addFirefox(place, base) : addChromium(place, base);
        }
    }

    BrowserProfiles take() { return std::move(result_); }

private:
    void skip(const QString& what, const QString& why) {
        result_.skipped << QStringLiteral("%1: %2, skipped").arg(what, why);
    }

    void addProfile(const Place& place, const QString& name, const QString& folder) {
        QString resolved, why;
        switch (resolveFolder(folder, &resolved, &why)) {
        case Resolved::Missing:
            skip(folder, QStringLiteral("no such profile folder"));
            return;
        case Resolved::Problem:
            skip(folder, why);
            return;
        case Resolved::Folder:
            break;
        }
        if (folders_.contains(resolved))
            return;
        folders_.insert(resolved);
        result_.profiles.append({family_, place.browser, name, resolved});
    }

    // Each [ProfileN] section names its folder by Path, relative to the
    // file's folder unless it is absolute (IsRelative says which, but a
    // path is taken for what it is). Without the file, the folders that
    // hold a places.sqlite are the profiles.
    void addFirefox(const Place& place, const QString& base) {
        const QString iniPath = base + QStringLiteral("/profiles.ini");
        if (!QFileInfo::exists(iniPath)) {
            for (const QString& name :
                 QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                if (QFileInfo(base + '/' + name + QStringLiteral("/places.sqlite")).isFile())
                    addProfile(place, name, base + '/' + name);
            return;
        }
        QByteArray text;
        QString why;
        if (!readSmallFile(iniPath, &text, &why)) {
            skip(iniPath, why);
            return;
        }
        struct Section {
            QString name, path;
        };
        QList<Section> sections;
        bool inProfile = false;
        for (const QByteArray& raw : text.split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.startsWith('[')) {
                inProfile = line.startsWith(QLatin1String("[Profile"), Qt::CaseInsensitive);
                if (inProfile)
                    sections.append(Section{});
                continue;
            }
            const qsizetype equals = line.indexOf('=');
            if (!inProfile || equals <= 0)
                continue;
            const QString key = line.left(equals).trimmed();
            const QString value = line.mid(equals + 1).trimmed();
            if (key.compare(QLatin1String("Path"), Qt::CaseInsensitive) == 0)
                sections.back().path = value;
            else if (key.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0)
                sections.back().name = value;
        }
        for (const Section& section : std::as_const(sections)) {
            if (section.path.isEmpty())
                continue;
            const QString folder =
                QDir::isAbsolutePath(section.path) ? section.path : base + '/' + section.path;
            addProfile(place,
                       section.name.isEmpty() ? QFileInfo(section.path).fileName() : section.name,
                       folder);
        }
    }

    // The profiles Local State lists, with their display names; without a
    // list, the folders that look like profiles.
    void addChromium(const Place& place, const QString& base) {
        const QString statePath = base + QStringLiteral("/Local State");
        QList<QPair<QString, QString>> profiles; // folder name, display name
        if (QFileInfo::exists(statePath)) {
            QByteArray text;
            QString why;
            if (!readSmallFile(statePath, &text, &why)) {
                skip(statePath, why);
                return;
            }
            QJsonParseError error;
            const QJsonDocument state = QJsonDocument::fromJson(text, &error);
            if (error.error != QJsonParseError::NoError || !state.isObject()) {
                skip(statePath, QStringLiteral("not JSON"));
                return;
            }
            const QJsonObject cache = state.object()
                                          .value(QLatin1String("profile"))
                                          .toObject()
                                          .value(QLatin1String("info_cache"))
                                          .toObject();
            for (auto it = cache.begin(); it != cache.end(); ++it)
                profiles.append(
                    {it.key(), it.value().toObject().value(QLatin1String("name")).toString()});
        }
        if (profiles.isEmpty()) {
            static const QRegularExpression profileFolder(
                QStringLiteral("^(Default|Profile \\d+)$"));
            for (const QString& name : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                if (profileFolder.match(name).hasMatch())
                    profiles.append({name, QString()});
        }
        // Default first, then Profile 1, Profile 2, ..., Profile 10.
        QCollator collator;
        collator.setNumericMode(true);
        std::sort(profiles.begin(), profiles.end(), [&](const auto& a, const auto& b) {
            const bool aDefault = a.first == QLatin1String("Default");
            const bool bDefault = b.first == QLatin1String("Default");
            return aDefault != bDefault ? aDefault : collator.compare(a.first, b.first) < 0;
        });
        for (const auto& [folder, name] : std::as_const(profiles)) {
            // A folder name from the file never leads out of the place.
            if (folder.isEmpty() || folder.contains('/') || folder == QLatin1String(".") ||
                folder == QLatin1String("..")) {
                skip(statePath, QStringLiteral("a profile named \"%1\"").arg(folder));
                continue;
            }
            addProfile(place, name.isEmpty() ? folder : name, base + '/' + folder);
        }
    }

    BrowserFamily family_;
    BrowserProfiles result_;
    QSet<QString> places_, folders_;
};

} // namespace

QString BrowserProfile::label() const {
    return QStringLiteral("%1, profile \"%2\"").arg(browser, name);
}

BrowserProfiles findBrowserProfiles(BrowserFamily family) {
    Finder finder(family);
    for (const Place& place : family == BrowserFamily::Firefox ? firefoxPlaces() : chromiumPlaces())
        finder.addPlace(place);
    return finder.take();
}

QString searchedPlaces(BrowserFamily family) {
    const QString home = homeFolder();
    QStringList folders;
    for (const Place& place : family == BrowserFamily::Firefox ? firefoxPlaces() : chromiumPlaces())
        folders << (place.folder.startsWith(home + '/') ? '~' + place.folder.mid(home.size())
                                                        : place.folder);
    return folders.join(QStringLiteral(", "));
}

} // namespace platform
