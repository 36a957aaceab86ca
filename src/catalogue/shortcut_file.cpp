#include "catalogue/shortcut_file.h"

#include "platform/file_replace.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

namespace catalogue {

const std::array<PropertyName, 11> ShortcutProperties = {{
    {"PID_IS_URL", 2},
    {"PID_IS_NAME", 4},
    {"PID_IS_WORKINGDIR", 5},
    {"PID_IS_HOTKEY", 6},
    {"PID_IS_SHOWCMD", 7},
    {"PID_IS_ICONINDEX", 8},
    {"PID_IS_ICONFILE", 9},
    {"PID_IS_WHATSNEW", 10},
    {"PID_IS_AUTHOR", 11},
    {"PID_IS_DESCRIPTION", 12},
    {"PID_IS_COMMENT", 13},
}};

const std::array<PropertyName, 17> SiteProperties = {{
    {"PID_INTSITE_WHATSNEW", 2},
    {"PID_INTSITE_AUTHOR", 3},
    {"PID_INTSITE_LASTVISIT", 4},
    {"PID_INTSITE_LASTMOD", 5},
    {"PID_INTSITE_VISITCOUNT", 6},
    {"PID_INTSITE_DESCRIPTION", 7},
    {"PID_INTSITE_COMMENT", 8},
    {"PID_INTSITE_FLAGS", 9},
    {"PID_INTSITE_CONTENTLEN", 10},
    {"PID_INTSITE_CONTENTCODE", 11},
    {"PID_INTSITE_RECURSE", 12},
    {"PID_INTSITE_WATCH", 13},
    {"PID_INTSITE_SUBSCRIPTION", 14},
    {"PID_INTSITE_URL", 15},
    {"PID_INTSITE_TITLE", 16},
    {"PID_INTSITE_CODEPAGE", 18},
    {"PID_INTSITE_TRACKING", 19},
}};

namespace {

const QLatin1String shortcutSection("internetshortcut");
const QLatin1String shortcutSetSection("{000214a0-0000-0000-c000-000000000046}");
const QLatin1String siteSetSection("{000214a1-0000-0000-c000-000000000046}");

struct KeyProperty {
    const char* key; // lower case
    int id;
    int type;
};

// The [InternetShortcut] keys that stand for properties of the first set.
constexpr KeyProperty shortcutKeys[] = {
    {"url", 2, vt::LpWStr},   {"workingdirectory", 5, vt::LpWStr},
    {"hotkey", 6, vt::UI2},   {"showcommand", 7, vt::I4},
    {"iconindex", 8, vt::I4}, {"iconfile", 9, vt::LpWStr},
};

// "Prop12=31,text": identifier 12, type 31, value "text".
bool parsePropLine(const QString& key, const QString& value, int* id, PropertyValue* out) {
    if (!key.startsWith(QLatin1String("prop")))
        return false;
    bool ok = false;
    *id = key.mid(4).toInt(&ok);
    const qsizetype comma = value.indexOf(',');
    if (!ok || comma < 0)
        return false;
    const int type = value.left(comma).trimmed().toInt(&ok);
    if (!ok)
        return false;
    *out = ParsePropertyValue(type, value.mid(comma + 1));
    return true;
}

} // namespace

bool ShortcutFile::load(const QString& path) {
    shortcut_.clear();
    site_.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    parse(file.readAll());
    return true;
}

void ShortcutFile::parse(const QByteArray& text) {
    shortcut_.clear();
    site_.clear();
    QMap<int, PropertyValue> fromKeys;
    QString section;
    for (QByteArray rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        int id = 0;
        PropertyValue typed;
        if (section == shortcutSection) {
            for (const KeyProperty& known : shortcutKeys)
                if (key == QLatin1String(known.key))
                    fromKeys.insert(known.id, ParsePropertyValue(known.type, value));
        } else if (section == shortcutSetSection && parsePropLine(key, value, &id, &typed)) {
            shortcut_.insert(id, typed);
        } else if (section == siteSetSection && parsePropLine(key, value, &id, &typed)) {
            site_.insert(id, typed);
        }
    }
    // The [InternetShortcut] keys are what the shell itself goes by.
    shortcut_.insert(fromKeys);
}

PropertyValue ShortcutFile::value(PropertySet set, int id) const {
    return (set == PropertySet::Shortcut ? shortcut_ : site_).value(id);
}

QByteArray UrlFileText(const QString& url) {
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

platform::CreateResult CreateUrlFile(const QString& fileName, const QString& url, QString* error) {
    return platform::createFileWhole(fileName, UrlFileText(url), error);
}

PropertyValue ReadShortcutProperty(const ShortcutFile& file, PropertySet set, int id) {
    return file.value(set, id);
}

bool WriteUrlFile(const QString& fileName, const QString& url,
                  const platform::NoteOwnChange& noteOwnChange) {
    if (noteOwnChange)
        noteOwnChange(fileName);
    const bool written = platform::replaceFileWhole(fileName, UrlFileText(url));
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents();
    return written;
}

} // namespace catalogue
