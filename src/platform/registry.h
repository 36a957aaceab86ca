#pragma once
// The registry: a store file in .reg text form at registryFilePath(), used
// the way the Windows registry is. Keys are opened with or without create
// (without create a missing key fails), and key and value names are matched
// without regard to case. Every change saves the whole store at once. All
// functions may be called from any thread.
//
// HKEY_CLASSES_ROOT answers ".htm" (default "htmlfile") and
// "htmlfile\shell\open\command" (default: xdg-open "%1") when the store has
// no value of its own. The HKEY_LOCAL_MACHINE Run value "Pagorama" is
// mirrored to the desktop's autostart entry.
//
// A store file that cannot be read is reported once and never rewritten:
// reads then see an empty store and every change fails with BadStore.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

enum class RegistryHive { CurrentUser, LocalMachine, ClassesRoot };
enum class RegistryValueType { None, String, Dword, Binary };

// Result codes, numbered as the Windows registry numbers them.
namespace regerror {
constexpr long Success = 0;
constexpr long NotFound = 2;      // key or value missing
constexpr long AccessDenied = 5;  // the store could not be saved
constexpr long InvalidHandle = 6; // the key is not open
constexpr long InvalidName = 123; // a key name the store file cannot hold (a line break)
constexpr long BadStore = 1009;   // the store file is damaged and left alone
constexpr long KeyDeleted = 1018; // the open key has been deleted since
} // namespace regerror

class RegistryKey {
public:
    RegistryKey() = default;

    // Opens hive\path. With create, missing keys along the path are made
    // (and saved); without it a missing key fails with NotFound. A leading
    // backslash is allowed. The hive's root is opened with an empty path.
    // A key name with a line break cannot be stored and is refused.
    long open(RegistryHive hive, const QString& path, bool create);
    void close() { open_ = false; }
    bool isOpen() const { return open_; }

    // The value named name ("" for the default value) of the open key.
    bool valueExists(const QString& name) const;
    RegistryValueType valueType(const QString& name) const;
    // Data size in bytes: a binary value's bytes, 4 for a dword, the UTF-8
    // length plus the terminating zero for text; -1 when there is no value.
    qint64 valueSize(const QString& name) const;
    std::optional<QString> readString(const QString& name) const;
    std::optional<quint32> readDword(const QString& name) const;
    // A binary value's bytes (the data of a text value as UTF-8 without
    // terminator, of a dword as 4 little-endian bytes).
    std::optional<QByteArray> readBinary(const QString& name) const;
    QStringList valueNames() const;
    QStringList subKeyNames() const;

    long writeString(const QString& name, const QString& text);
    long writeDword(const QString& name, quint32 value);
    long writeBinary(const QString& name, const QByteArray& bytes);
    long deleteValue(const QString& name);

    // Why the last change failed, for messages; empty after a success.
    QString lastErrorText() const { return lastErrorText_; }

private:
    bool open_ = false;
    RegistryHive hive_ = RegistryHive::CurrentUser;
    QStringList path_;
    QString lastErrorText_;
};

bool registryKeyExists(RegistryHive hive, const QString& path);
struct RegistryBinaryValue {
    QString keyPath;
    QString name;
    QByteArray bytes;
};
// Writes binary values, making their keys where missing, with one save of
// the store for all of them (where RegistryKey saves once per key made and
// once per value).
long writeRegistryBinaries(RegistryHive hive, const QList<RegistryBinaryValue>& values,
                           QString* error = nullptr);
// Deletes a key with everything below it. NotFound when it does not exist.
long deleteRegistryKey(RegistryHive hive, const QString& path, QString* error = nullptr);

} // namespace platform
