#pragma once
// The registry store's file form: Windows .reg text ("REGEDIT4", one
// [HIVE\key\path] section per key, "name"="text", @= for the default value,
// dword:0000000a, hex:01,02 and hex(N): for other typed data). This is the
// in-memory tree and its reading and writing; locking and saving live in
// registry.cpp.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace platform::regtext {

constexpr int HiveCount = 3; // HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT

enum class Kind { String, Dword, Binary };

struct Value {
    QString name; // empty: the default (unnamed) value
    Kind kind = Kind::String;
    QString text;      // String
    quint32 dword = 0; // Dword
    QByteArray bytes;  // Binary
    int hexType = 3;   // Binary: the type number, 3 (plain "hex:") for binary data
};

struct Key {
    QString name;

    // Names are matched without regard to case. A key with many subkeys or
    // values keeps an index of their case-folded names, so it is read,
    // looked up and changed in time that grows with its size, not with its
    // square; a key with few compares them one by one, which costs less
    // than making the index for each of many small keys.
    Key* child(const QString& childName) const;
    Key* childOrNew(const QString& childName);
    bool removeChild(const QString& childName);
    Value* value(const QString& valueName);
    const Value* value(const QString& valueName) const;
    // Replaces the value of the same name whole (name included), else
    // appends it.
    void putValue(const Value& value);
    void putValue(Value&& value);
    bool removeValue(const QString& valueName);
    // The key below this one at path, or nullptr.
    Key* find(const QStringList& path) const;
    Key* findOrCreate(const QStringList& path);

    // In the order they were added, which is the order they are written.
    const QList<Value>& values() const { return values_; }
    const std::vector<std::unique_ptr<Key>>& children() const { return children_; }

private:
    // Below this many names a key has no index.
    static constexpr size_t IndexFrom = 9;
    qsizetype childPosition(const QString& childName) const;
    qsizetype valuePosition(const QString& valueName) const;

    QList<Value> values_;
    std::vector<std::unique_ptr<Key>> children_;
    QHash<QString, Key*> childIndex_;      // folded name -> child, once there are many
    QHash<QString, qsizetype> valueIndex_; // folded name -> position in values_, likewise
};

// The form of a name under which names equal without regard to case are
// equal: each character case-folded, as QString::compare with
// Qt::CaseInsensitive folds them.
QString foldedName(const QString& name);

struct Store {
    Key hives[HiveCount];
};

QString hiveName(int hive);
// The segments of a key path: backslash separated, empty segments dropped
// (so "\Software\x" and "Software\x\" name the same key).
QStringList splitKeyPath(const QString& path);

// Parses a store file. On failure returns false with the 1-based line number
// and a short reason, and *out is left in an unspecified state.
bool parse(const QByteArray& text, Store* out, int* errorLine, QString* reason);
QByteArray serialize(const Store& store);

} // namespace platform::regtext
