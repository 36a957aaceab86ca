#include "platform/registry_text.h"

namespace platform::regtext {

namespace {

const char* const hiveNames[HiveCount] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                          "HKEY_CLASSES_ROOT"};

bool sameName(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

// Reads a quoted text starting at line[pos] == '"'; advances pos past the
// closing quote. Escapes: \\ \" \n \r.
bool readQuoted(const QString& line, qsizetype& pos, QString* out) {
    if (pos >= line.size() || line[pos] != QLatin1Char('"'))
        return false;
    ++pos;
    out->clear();
    while (pos < line.size()) {
        const QChar c = line[pos++];
        if (c == QLatin1Char('"'))
            return true;
        if (c != QLatin1Char('\\')) {
            out->append(c);
            continue;
        }
        if (pos >= line.size())
            return false;
        const QChar e = line[pos++];
        if (e == QLatin1Char('n'))
            out->append(QLatin1Char('\n'));
        else if (e == QLatin1Char('r'))
            out->append(QLatin1Char('\r'));
        else
            out->append(e); // \\ and \" and anything else taken literally
    }
    return false;
}

QString quoted(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\'), out += c;
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    out += QLatin1Char('"');
    return out;
}

bool parseHexList(const QString& list, QByteArray* out) {
    out->clear();
    const QString trimmed = list.trimmed();
    if (trimmed.isEmpty())
        return true;
    for (const QString& part : trimmed.split(QLatin1Char(','))) {
        const QString byte = part.trimmed();
        bool ok = false;
        const uint v = byte.toUInt(&ok, 16);
        if (!ok || byte.size() > 2 || v > 0xff)
            return false;
        out->append(char(v));
    }
    return true;
}

bool parseData(const QString& data, Value* value) {
    qsizetype pos = 0;
    if (data.startsWith(QLatin1Char('"'))) {
        value->kind = Kind::String;
        return readQuoted(data, pos, &value->text) && data.mid(pos).trimmed().isEmpty();
    }
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = data.mid(6).trimmed();
        bool ok = false;
        value->kind = Kind::Dword;
        value->dword = digits.toUInt(&ok, 16);
        return ok && !digits.isEmpty() && digits.size() <= 8;
    }
    if (data.startsWith(QLatin1String("hex:"), Qt::CaseInsensitive)) {
        value->kind = Kind::Binary;
        value->hexType = 3;
        return parseHexList(data.mid(4), &value->bytes);
    }
    if (data.startsWith(QLatin1String("hex("), Qt::CaseInsensitive)) {
        const qsizetype close = data.indexOf(QLatin1String("):"));
        if (close < 0)
            return false;
        bool ok = false;
        value->kind = Kind::Binary;
        value->hexType = data.mid(4, close - 4).toInt(&ok, 16);
        return ok && value->hexType >= 0 && parseHexList(data.mid(close + 2), &value->bytes);
    }
    return false;
}

QString hexList(const QByteArray& bytes, qsizetype firstLineUsed) {
    // Wrapped with a trailing backslash as the registry editor does, so long
    // binary values stay readable.
    QString out;
    qsizetype column = firstLineUsed;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out += QString::asprintf("%02x", uchar(bytes[i]));
        column += 2;
        if (i + 1 < bytes.size()) {
            out += QLatin1Char(',');
            ++column;
            if (column > 76) {
                out += QLatin1String("\\\r\n  ");
                column = 2;
            }
        }
    }
    return out;
}

void serializeKey(const Key& key, const QString& path, QString* out) {
    if (!path.contains(QLatin1Char('\\')) && key.values.isEmpty()) {
        // A hive root with no values of its own needs no section.
    } else {
        *out += QLatin1Char('[') + path + QLatin1String("]\r\n");
        for (const Value& v : key.values) {
            QString line = v.name.isEmpty() ? QStringLiteral("@") : quoted(v.name);
            line += QLatin1Char('=');
            switch (v.kind) {
            case Kind::String:
                line += quoted(v.text);
                break;
            case Kind::Dword:
                line += QString::asprintf("dword:%08x", v.dword);
                break;
            case Kind::Binary:
                line += v.hexType == 3 ? QStringLiteral("hex:")
                                       : QString::asprintf("hex(%x):", v.hexType);
                line += hexList(v.bytes, line.size());
                break;
            }
            *out += line + QLatin1String("\r\n");
        }
        *out += QLatin1String("\r\n");
    }
    for (const auto& child : key.children)
        serializeKey(*child, path + QLatin1Char('\\') + child->name, out);
}

} // namespace

Key* Key::child(const QString& childName) const {
    for (const auto& c : children)
        if (sameName(c->name, childName))
            return c.get();
    return nullptr;
}

Key* Key::childOrNew(const QString& childName) {
    if (Key* existing = child(childName))
        return existing;
    children.push_back(std::make_unique<Key>());
    children.back()->name = childName;
    return children.back().get();
}

bool Key::removeChild(const QString& childName) {
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (sameName((*it)->name, childName)) {
            children.erase(it);
            return true;
        }
    }
    return false;
}

Value* Key::value(const QString& valueName) {
    for (Value& v : values)
        if (sameName(v.name, valueName))
            return &v;
    return nullptr;
}

const Value* Key::value(const QString& valueName) const {
    for (const Value& v : values)
        if (sameName(v.name, valueName))
            return &v;
    return nullptr;
}

bool Key::removeValue(const QString& valueName) {
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (sameName(values[i].name, valueName)) {
            values.removeAt(i);
            return true;
        }
    }
    return false;
}

Key* Key::find(const QStringList& path) const {
    const Key* key = this;
    for (const QString& segment : path) {
        key = key->child(segment);
        if (!key)
            return nullptr;
    }
    return const_cast<Key*>(key);
}

Key* Key::findOrCreate(const QStringList& path) {
    Key* key = this;
    for (const QString& segment : path)
        key = key->childOrNew(segment);
    return key;
}

QString hiveName(int hive) {
    return QString::fromLatin1(hiveNames[hive]);
}

QStringList splitKeyPath(const QString& path) {
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

bool parse(const QByteArray& text, Store* out, int* errorLine, QString* reason) {
    QString all = QString::fromUtf8(text);
    if (all.startsWith(QChar(0xfeff)))
        all.remove(0, 1);
    const QStringList lines = all.split(QLatin1Char('\n'));
    auto fail = [&](int line, const QString& why) {
        *errorLine = line;
        *reason = why;
        return false;
    };

    bool sawHeader = false;
    Key* current = nullptr;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i) + 1;
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        // A value continued on the next line ends in a backslash.
        while (line.endsWith(QLatin1Char('\\')) && !line.trimmed().startsWith(QLatin1Char('[')) &&
               i + 1 < lines.size()) {
            line.chop(1);
            QString next = lines[++i];
            if (next.endsWith(QLatin1Char('\r')))
                next.chop(1);
            line += next.trimmed();
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
            continue;
        if (!sawHeader) {
            if (trimmed != QLatin1String("REGEDIT4"))
                return fail(lineNumber, QStringLiteral("the first line is not REGEDIT4"));
            sawHeader = true;
            continue;
        }
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (!trimmed.endsWith(QLatin1Char(']')) || trimmed.startsWith(QLatin1String("[-")))
                return fail(lineNumber, QStringLiteral("bad key line"));
            QStringList path = splitKeyPath(trimmed.mid(1, trimmed.size() - 2));
            int hive = -1;
            for (int h = 0; h < HiveCount && !path.isEmpty(); ++h)
                if (sameName(path.first(), hiveName(h)))
                    hive = h;
            if (hive < 0)
                return fail(lineNumber, QStringLiteral("unknown root key"));
            path.removeFirst();
            current = out->hives[hive].findOrCreate(path);
            continue;
        }
        if (!current)
            return fail(lineNumber, QStringLiteral("a value outside any key"));
        Value value;
        qsizetype pos = 0;
        if (trimmed.startsWith(QLatin1Char('@'))) {
            pos = 1;
        } else if (!readQuoted(trimmed, pos, &value.name)) {
            return fail(lineNumber, QStringLiteral("bad value name"));
        }
        while (pos < trimmed.size() && trimmed[pos].isSpace())
            ++pos;
        if (pos >= trimmed.size() || trimmed[pos] != QLatin1Char('='))
            return fail(lineNumber, QStringLiteral("missing '='"));
        if (!parseData(trimmed.mid(pos + 1).trimmed(), &value))
            return fail(lineNumber, QStringLiteral("bad value data"));
        if (Value* existing = current->value(value.name))
            *existing = value;
        else
            current->values.append(value);
    }
    return true;
}

QByteArray serialize(const Store& store) {
    QString out = QStringLiteral("REGEDIT4\r\n\r\n");
    for (int h = 0; h < HiveCount; ++h)
        serializeKey(store.hives[h], hiveName(h), &out);
    return out.toUtf8();
}

} // namespace platform::regtext
