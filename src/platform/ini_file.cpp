#include "platform/ini_file.h"

#include "platform/file_replace.h"

#include <QFile>

namespace platform {

namespace {

bool sameName(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

QString valueOf(const QByteArray& raw) {
    const qsizetype eq = raw.indexOf('=');
    QString value = QString::fromUtf8(raw.mid(eq + 1)).trimmed();
    if (value.size() >= 2 &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

QString flattened(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

IniFile::IniFile(const QString& path) {
    load(path);
}

IniFile::Line IniFile::parseLine(const QByteArray& raw) {
    Line line;
    line.raw = raw;
    const QByteArray trimmed = raw.trimmed();
    if (trimmed.startsWith('[')) {
        const qsizetype close = trimmed.indexOf(']');
        if (close > 0) {
            line.isSection = true;
            line.section = QString::fromUtf8(trimmed.mid(1, close - 1)).trimmed();
        }
        return line;
    }
    if (trimmed.startsWith(';'))
        return line;
    const qsizetype eq = trimmed.indexOf('=');
    if (eq <= 0)
        return line; // not an entry: skipped on reading, kept on writing
    line.key = QString::fromUtf8(trimmed.left(eq)).trimmed();
    line.isEntry = !line.key.isEmpty();
    return line;
}

bool IniFile::load(const QString& path) {
    path_ = path;
    parse(QByteArray());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    parse(file.readAll());
    return true;
}

void IniFile::parse(const QByteArray& all) {
    lines_.clear();
    lineEnd_ = "\r\n";
    endsWithLineEnd_ = true;
    if (all.isEmpty())
        return;
    const qsizetype firstBreak = all.indexOf('\n');
    if (firstBreak >= 0 && (firstBreak == 0 || all[firstBreak - 1] != '\r'))
        lineEnd_ = "\n";
    endsWithLineEnd_ = all.endsWith('\n');
    QList<QByteArray> raw = all.split('\n');
    if (endsWithLineEnd_)
        raw.removeLast();
    for (QByteArray& r : raw) {
        if (r.endsWith('\r'))
            r.chop(1);
        lines_.append(parseLine(r));
    }
}

qsizetype IniFile::findSection(const QString& section) const {
    for (qsizetype i = 0; i < lines_.size(); ++i)
        if (lines_[i].isSection && sameName(lines_[i].section, section))
            return i;
    return -1;
}

qsizetype IniFile::findEntry(const QString& section, const QString& key) const {
    const qsizetype start = findSection(section);
    if (start < 0)
        return -1;
    for (qsizetype i = start + 1; i < lines_.size() && !lines_[i].isSection; ++i)
        if (lines_[i].isEntry && sameName(lines_[i].key, key))
            return i;
    return -1;
}

bool IniFile::hasKey(const QString& section, const QString& key) const {
    return findEntry(section, key) >= 0;
}

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& fallback) const {
    const qsizetype at = findEntry(section, key);
    if (at < 0)
        return fallback.left(MaxValueLength);
    return valueOf(lines_[at].raw).left(MaxValueLength);
}

int IniFile::readInt(const QString& section, const QString& key, int fallback) const {
    const qsizetype at = findEntry(section, key);
    if (at < 0)
        return fallback;
    bool ok = false;
    const int value = readString(section, key).toInt(&ok, 10);
    return ok ? value : fallback;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    Line entry = parseLine((flattened(key) + QLatin1Char('=') + flattened(value)).toUtf8());
    const qsizetype existing = findEntry(section, key);
    if (existing >= 0) {
        lines_[existing] = entry;
        return;
    }
    const qsizetype start = findSection(section);
    if (start < 0) {
        lines_.append(
            parseLine((QLatin1Char('[') + flattened(section) + QLatin1Char(']')).toUtf8()));
        lines_.append(entry);
        endsWithLineEnd_ = true;
        return;
    }
    // After the section's last non-blank line, so blank lines that separate
    // it from the next section stay where they are.
    qsizetype insertAt = start + 1;
    for (qsizetype i = start + 1; i < lines_.size() && !lines_[i].isSection; ++i)
        if (!lines_[i].raw.trimmed().isEmpty())
            insertAt = i + 1;
    lines_.insert(insertAt, entry);
}

void IniFile::writeInt(const QString& section, const QString& key, int value) {
    writeString(section, key, QString::number(value));
}

QByteArray IniFile::contents() const {
    QByteArray out;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        out += lines_[i].raw;
        if (i + 1 < lines_.size() || endsWithLineEnd_)
            out += lineEnd_;
    }
    return out;
}

bool IniFile::save(QString* error) const {
    return saveAs(path_, error);
}

bool IniFile::saveAs(const QString& path, QString* error) const {
    return replaceFileWhole(path, contents(), error);
}

} // namespace platform
