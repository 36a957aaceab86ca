#pragma once
// Profile (INI) files: "[section]" lines, then "key=value" lines. Sections and
// keys are matched without regard to case; the first occurrence of a section
// or key is the one that counts. Everything the program does not touch
// (unknown sections and keys, comments, lines that do not parse) stays in
// the file as it was, byte for byte. Changes are kept in memory until save(),
// which replaces the file whole, so a failed save leaves the old file intact.
#include <QByteArray>
#include <QList>
#include <QString>

namespace platform {

class IniFile {
public:
    // The longest value a read returns, as the profile functions' buffer allows.
    static constexpr qsizetype MaxValueLength = 2047;

    IniFile() = default;
    // Reads path; a missing or unreadable file reads as empty.
    explicit IniFile(const QString& path);
    bool load(const QString& path);
    // Reads the text a file would hold (load itself, and the fuzz target).
    void parse(const QByteArray& text);
    QString path() const { return path_; }

    bool hasKey(const QString& section, const QString& key) const;
    // The value with surrounding blanks and one pair of enclosing quotes
    // removed, cut to MaxValueLength; fallback when the key is missing.
    QString readString(const QString& section, const QString& key,
                       const QString& fallback = QString()) const;
    // fallback also when the value is not a whole number in int range.
    int readInt(const QString& section, const QString& key, int fallback) const;

    // Sets key in section: an existing line is rewritten in place, a new key
    // goes after the section's last entry, a new section at the end. Line
    // breaks in value become blanks so they cannot split the entry.
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInt(const QString& section, const QString& key, int value);

    // The file's text as save() would write it.
    QByteArray contents() const;
    // Replaces the file whole. False (with the reason in *error) when it
    // could not, including when its permission bits deny writing.
    bool save(QString* error = nullptr) const;
    bool saveAs(const QString& path, QString* error = nullptr) const;

private:
    struct Line {
        QByteArray raw;  // as read or written, without line end
        QString section; // for a section line: its name
        QString key;     // for an entry line: its name
        bool isSection = false;
        bool isEntry = false;
    };
    static Line parseLine(const QByteArray& raw);
    qsizetype findSection(const QString& section) const;
    qsizetype findEntry(const QString& section, const QString& key) const;

    QString path_;
    QList<Line> lines_;
    QByteArray lineEnd_ = "\r\n";
    bool endsWithLineEnd_ = true;
};

} // namespace platform
