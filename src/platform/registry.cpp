#include "platform/registry.h"

#include "platform/autostart.h"
#include "platform/file_replace.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "platform/registry_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>

#include <functional>
#include <sys/stat.h>

namespace platform {

using regtext::Key;
using regtext::Kind;
using regtext::Value;

namespace {

struct FileIdentity {
    bool exists = false;
    quint64 device = 0, inode = 0;
    qint64 size = 0, modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The parsed store of the current registry file, re-read whenever the file
// (or, in tests, the program folder) changes under us.
struct Cache {
    bool valid = false;
    QString path;
    FileIdentity identity;
    regtext::Store store;
    bool damaged = false;
    QString damage; // why the file is left alone
};

QMutex storeMutex;
Cache cache;
QSet<QString> reportedPaths;

// Shows a message on the main thread, never while the store is locked: a
// message box runs a nested event loop that may use the registry again.
void report(const QString& text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(
            app, [text] { showMessage(text); }, Qt::QueuedConnection);
        return;
    }
    showMessage(text, QStringLiteral("Pagorama"), MessageKind::Warning);
}

// Call with storeMutex held. A damage text to report (once per file) goes to
// *pendingReport, to be shown after unlocking.
Cache& loadStore(QString* pendingReport) {
    const QString path = registryFilePath();
    const FileIdentity identity = identityOf(path);
    if (cache.valid && cache.path == path && cache.identity == identity)
        return cache;

    cache.valid = true;
    cache.path = path;
    cache.identity = identity;
    cache.store = regtext::Store{};
    cache.damaged = false;
    cache.damage.clear();
    if (!identity.exists)
        return cache;

    QString why;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
    } else {
        int line = 0;
        QString reason;
        if (!regtext::parse(file.readAll(), &cache.store, &line, &reason)) {
            why = QStringLiteral("line %1: %2").arg(line).arg(reason);
            cache.store = regtext::Store{};
        }
    }
    if (!why.isEmpty()) {
        cache.damaged = true;
        cache.damage = QStringLiteral("The registry store %1 cannot be read (%2). It is left as "
                                      "it is, and registry changes are not saved until it is "
                                      "repaired or removed.")
                           .arg(path, why);
        if (!reportedPaths.contains(path)) {
            reportedPaths.insert(path);
            *pendingReport = cache.damage;
        }
    }
    return cache;
}

long saveStore(Cache& c, QString* why) {
    QString error;
    if (!replaceFileWhole(c.path, regtext::serialize(c.store), &error)) {
        c.valid = false; // drop the unsaved change: the next use reads the file again
        *why = QStringLiteral("Unable to save the registry store: %1").arg(error);
        return regerror::AccessDenied;
    }
    c.identity = identityOf(c.path);
    return regerror::Success;
}

// Values the store answers when it has none of its own.
struct BuiltInValue {
    RegistryHive hive;
    const char* path;
    const char* name;
    const char* text;
};
const BuiltInValue builtInValues[] = {
    {RegistryHive::ClassesRoot, ".htm", "", "htmlfile"},
    {RegistryHive::ClassesRoot, "htmlfile\\shell\\open\\command", "", "xdg-open \"%1\""},
};

bool samePath(const QStringList& a, const QStringList& b, qsizetype length) {
    if (a.size() < length || b.size() < length)
        return false;
    for (qsizetype i = 0; i < length; ++i)
        if (QString::compare(a[i], b[i], Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

// A key that exists because a built-in value lies in it or below it.
bool isBuiltInKey(RegistryHive hive, const QStringList& path) {
    for (const BuiltInValue& b : builtInValues) {
        const QStringList builtIn = regtext::splitKeyPath(QString::fromLatin1(b.path));
        if (b.hive == hive && samePath(path, builtIn, path.size()))
            return true;
    }
    return false;
}

const BuiltInValue* builtInValue(RegistryHive hive, const QStringList& path, const QString& name) {
    for (const BuiltInValue& b : builtInValues) {
        const QStringList builtIn = regtext::splitKeyPath(QString::fromLatin1(b.path));
        if (b.hive == hive && builtIn.size() == path.size() &&
            samePath(path, builtIn, path.size()) &&
            QString::compare(name, QLatin1String(b.name), Qt::CaseInsensitive) == 0)
            return &b;
    }
    return nullptr;
}

const QStringList& runKeyPath() {
    static const QStringList path =
        regtext::splitKeyPath(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    return path;
}

bool isRunValue(RegistryHive hive, const QStringList& path, const QString& name) {
    return hive == RegistryHive::LocalMachine && path.size() == runKeyPath().size() &&
           samePath(path, runKeyPath(), path.size()) &&
           QString::compare(name, QLatin1String("Pagorama"), Qt::CaseInsensitive) == 0;
}

// Replaces or adds a value; a replaced value keeps the letter case of its name.
long setValue(Key& key, Value value) {
    if (Value* existing = key.value(value.name)) {
        value.name = existing->name;
    }
    key.putValue(value);
    return regerror::Success;
}

Key& hiveRoot(Cache& c, RegistryHive hive) {
    return c.store.hives[int(hive)];
}

bool keyExists(Cache& c, RegistryHive hive, const QStringList& path) {
    return path.isEmpty() || hiveRoot(c, hive).find(path) || isBuiltInKey(hive, path);
}

// A copy of one value as seen through the open key: the store's, else the
// built-in one.
std::optional<Value> lookUp(RegistryHive hive, const QStringList& path, const QString& name) {
    QString pendingReport;
    std::optional<Value> found;
    {
        QMutexLocker lock(&storeMutex);
        Cache& c = loadStore(&pendingReport);
        if (const Key* key = hiveRoot(c, hive).find(path)) {
            if (const Value* v = key->value(name))
                found = *v;
        }
        if (!found) {
            if (const BuiltInValue* b = builtInValue(hive, path, name)) {
                Value v;
                v.name = name;
                v.text = QString::fromLatin1(b->text);
                found = v;
            }
        }
    }
    if (!pendingReport.isEmpty())
        report(pendingReport);
    return found;
}

// Runs edit on the open key (made real in the store if it only existed as a
// built-in) and saves the store.
long change(RegistryHive hive, const QStringList& path, QString* why,
            const std::function<long(Key&)>& edit) {
    QString pendingReport;
    long result = regerror::Success;
    {
        QMutexLocker lock(&storeMutex);
        Cache& c = loadStore(&pendingReport);
        if (c.damaged) {
            *why = c.damage;
            result = regerror::BadStore;
        } else if (!keyExists(c, hive, path)) {
            *why = QStringLiteral("The registry key has been deleted.");
            result = regerror::KeyDeleted;
        } else {
            result = edit(*hiveRoot(c, hive).findOrCreate(path));
            if (result == regerror::Success)
                result = saveStore(c, why);
        }
    }
    if (!pendingReport.isEmpty())
        report(pendingReport);
    return result;
}

} // namespace

long RegistryKey::open(RegistryHive hive, const QString& path, bool create) {
    open_ = false;
    lastErrorText_.clear();
    const QStringList segments = regtext::splitKeyPath(path);
    QString pendingReport;
    long result = regerror::Success;
    {
        QMutexLocker lock(&storeMutex);
        Cache& c = loadStore(&pendingReport);
        if (!keyExists(c, hive, segments)) {
            if (!create) {
                result = regerror::NotFound;
            } else if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r'))) {
                // A section line ends at the line break, so the store would
                // no longer read back.
                lastErrorText_ = QStringLiteral("A registry key name cannot hold a line break.");
                result = regerror::InvalidName;
            } else if (c.damaged) {
                lastErrorText_ = c.damage;
                result = regerror::BadStore;
            } else {
                hiveRoot(c, hive).findOrCreate(segments);
                result = saveStore(c, &lastErrorText_);
            }
        }
    }
    if (!pendingReport.isEmpty())
        report(pendingReport);
    if (result == regerror::Success) {
        open_ = true;
        hive_ = hive;
        path_ = segments;
    }
    return result;
}

bool RegistryKey::valueExists(const QString& name) const {
    return open_ && lookUp(hive_, path_, name).has_value();
}

RegistryValueType RegistryKey::valueType(const QString& name) const {
    const std::optional<Value> v = open_ ? lookUp(hive_, path_, name) : std::nullopt;
    if (!v)
        return RegistryValueType::None;
    switch (v->kind) {
    case Kind::String:
        return RegistryValueType::String;
    case Kind::Dword:
        return RegistryValueType::Dword;
    case Kind::Binary:
        break;
    }
    return RegistryValueType::Binary;
}

qint64 RegistryKey::valueSize(const QString& name) const {
    const std::optional<QByteArray> data = readBinary(name);
    if (!data)
        return -1;
    return valueType(name) == RegistryValueType::String ? data->size() + 1 : data->size();
}

std::optional<QString> RegistryKey::readString(const QString& name) const {
    const std::optional<Value> v = open_ ? lookUp(hive_, path_, name) : std::nullopt;
    if (!v || v->kind != Kind::String)
        return std::nullopt;
    return v->text;
}

std::optional<quint32> RegistryKey::readDword(const QString& name) const {
    const std::optional<Value> v = open_ ? lookUp(hive_, path_, name) : std::nullopt;
    if (!v || v->kind != Kind::Dword)
        return std::nullopt;
    return v->dword;
}

std::optional<QByteArray> RegistryKey::readBinary(const QString& name) const {
    const std::optional<Value> v = open_ ? lookUp(hive_, path_, name) : std::nullopt;
    if (!v)
        return std::nullopt;
    switch (v->kind) {
    case Kind::String:
        return v->text.toUtf8();
    case Kind::Dword: {
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((v->dword >> (8 * i)) & 0xff);
        return bytes;
    }
    case Kind::Binary:
        break;
    }
    return v->bytes;
}

QStringList RegistryKey::valueNames() const {
    QStringList names;
    if (!open_)
        return names;
    QString pendingReport;
    {
        QMutexLocker lock(&storeMutex);
        Cache& c = loadStore(&pendingReport);
        if (const Key* key = hiveRoot(c, hive_).find(path_))
            for (const Value& v : key->values())
                names << v.name;
        for (const BuiltInValue& b : builtInValues) {
            const QString builtIn = QString::fromLatin1(b.name);
            if (builtInValue(hive_, path_, builtIn) &&
                !names.contains(builtIn, Qt::CaseInsensitive))
                names << builtIn;
        }
    }
    if (!pendingReport.isEmpty())
        report(pendingReport);
    return names;
}

QStringList RegistryKey::subKeyNames() const {
    QStringList names;
    if (!open_)
        return names;
    QString pendingReport;
    {
        QMutexLocker lock(&storeMutex);
        Cache& c = loadStore(&pendingReport);
        if (const Key* key = hiveRoot(c, hive_).find(path_))
            for (const auto& child : key->children())
                names << child->name;
        for (const BuiltInValue& b : builtInValues) {
            const QStringList builtIn = regtext::splitKeyPath(QString::fromLatin1(b.path));
            if (b.hive == hive_ && builtIn.size() > path_.size() &&
                samePath(builtIn, path_, path_.size()) &&
                !names.contains(builtIn[path_.size()], Qt::CaseInsensitive))
                names << builtIn[path_.size()];
        }
    }
    if (!pendingReport.isEmpty())
        report(pendingReport);
    return names;
}

long RegistryKey::writeString(const QString& name, const QString& text) {
    lastErrorText_.clear();
    if (!open_)
        return regerror::InvalidHandle;
    const long result = change(hive_, path_, &lastErrorText_, [&](Key& key) {
        Value v;
        v.name = name;
        v.kind = Kind::String;
        v.text = text;
        return setValue(key, v);
    });
    if (result == regerror::Success && isRunValue(hive_, path_, name) &&
        !writeAutostartEntry(text, &lastErrorText_))
        return regerror::AccessDenied;
    return result;
}

long RegistryKey::writeDword(const QString& name, quint32 value) {
    lastErrorText_.clear();
    if (!open_)
        return regerror::InvalidHandle;
    return change(hive_, path_, &lastErrorText_, [&](Key& key) {
        Value v;
        v.name = name;
        v.kind = Kind::Dword;
        v.dword = value;
        return setValue(key, v);
    });
}

long RegistryKey::writeBinary(const QString& name, const QByteArray& bytes) {
    lastErrorText_.clear();
    if (!open_)
        return regerror::InvalidHandle;
    return change(hive_, path_, &lastErrorText_, [&](Key& key) {
        Value v;
        v.name = name;
        v.kind = Kind::Binary;
        v.bytes = bytes;
        return setValue(key, v);
    });
}

long RegistryKey::deleteValue(const QString& name) {
    lastErrorText_.clear();
    if (!open_)
        return regerror::InvalidHandle;
    // The autostart entry goes whether or not the value was ever written.
    if (isRunValue(hive_, path_, name))
        removeAutostartEntry();
    return change(hive_, path_, &lastErrorText_, [&](Key& key) {
        return key.removeValue(name) ? regerror::Success : regerror::NotFound;
    });
}

bool registryKeyExists(RegistryHive hive, const QString& path) {
    RegistryKey key;
    return key.open(hive, path, false) == regerror::Success;
}

long writeRegistryBinaries(RegistryHive hive, const QList<RegistryBinaryValue>& values,
                           QString* error) {
    QString why;
    long result = regerror::Success;
    for (const RegistryBinaryValue& value : values)
        if (value.keyPath.contains(QLatin1Char('\n')) ||
            value.keyPath.contains(QLatin1Char('\r'))) {
            why = QStringLiteral("A registry key name cannot hold a line break.");
            result = regerror::InvalidName;
        }
    if (result == regerror::Success && !values.isEmpty()) {
        QString pendingReport;
        {
            QMutexLocker lock(&storeMutex);
            Cache& c = loadStore(&pendingReport);
            if (c.damaged) {
                why = c.damage;
                result = regerror::BadStore;
            } else {
                for (const RegistryBinaryValue& value : values) {
                    Value v;
                    v.name = value.name;
                    v.kind = Kind::Binary;
                    v.bytes = value.bytes;
                    setValue(*hiveRoot(c, hive).findOrCreate(regtext::splitKeyPath(value.keyPath)),
                             v);
                }
                result = saveStore(c, &why);
            }
        }
        if (!pendingReport.isEmpty())
            report(pendingReport);
    }
    if (error)
        *error = why;
    return result;
}

long deleteRegistryKey(RegistryHive hive, const QString& path, QString* error) {
    const QStringList segments = regtext::splitKeyPath(path);
    QString pendingReport, why;
    long result = regerror::Success;
    {
        QMutexLocker lock(&storeMutex);
        Cache& c = loadStore(&pendingReport);
        Key* parent = segments.isEmpty()
                          ? nullptr
                          : hiveRoot(c, hive).find(segments.mid(0, segments.size() - 1));
        if (c.damaged) {
            why = c.damage;
            result = regerror::BadStore;
        } else if (segments.isEmpty()) {
            why = QStringLiteral("A root key cannot be deleted.");
            result = regerror::AccessDenied;
        } else if (!parent || !parent->removeChild(segments.last())) {
            result = regerror::NotFound;
        } else {
            result = saveStore(c, &why);
        }
    }
    if (!pendingReport.isEmpty())
        report(pendingReport);
    if (result == regerror::Success && hive == RegistryHive::LocalMachine &&
        samePath(runKeyPath(), segments, segments.size()))
        removeAutostartEntry();
    if (error)
        *error = why;
    return result;
}

} // namespace platform
