#include "platform/registry_text.h"

#include "platform/hex_digit.h"

#include <algorithm>

namespace platform::regtext {

namespace {

const char* const hiveNames[HiveCount] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                          "HKEY_CLASSES_ROOT"};

// Reads a quoted text starting at line[pos] == '"'; advances pos past the
// closing quote. Escapes: \\ \" \n \r.
bool readQuoted(QStringView line, qsizetype& pos, QString* out) {
    if (pos >= line.size() || line[pos] != QLatin1Char('"'))
        return false;
    ++pos;
    out->clear();
    while (pos < line.size()) {
        // The plain run up to the next quote or backslash is taken whole.
        qsizetype end = pos;
        while (end < line.size() && line[end] != QLatin1Char('"') && line[end] != QLatin1Char('\\'))
            ++end;
        if (end > pos) {
            if (out->isEmpty() && end < line.size() && line[end] == QLatin1Char('"')) {
                *out = line.sliced(pos, end - pos).toString();
            } else {
                out->append(line.sliced(pos, end - pos));
            }
            pos = end;
            continue;
        }
        const QChar c = line[pos++];
        if (c == QLatin1Char('"'))
            return true;
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

bool parseHexList(QStringView list, QByteArray* out) {
    out->clear();
    const QStringView trimmed = list.trimmed();
    if (trimmed.isEmpty())
        return true;
    out->reserve(trimmed.size() / 3 + 1);
    // Nearly always "xx,xx,...,xx": read in one pass while it keeps that form.
    {
        const QChar* text = trimmed.data();
        const qsizetype size = trimmed.size();
        qsizetype at = 0;
        QByteArray fast;
        fast.reserve(size / 3 + 1);
        while (at + 1 < size) {
            const int high = hexDigitValue(text[at]);
            const int low = hexDigitValue(text[at + 1]);
            if (high < 0 || low < 0)
                break;
            fast.append(char(high * 16 + low));
            at += 2;
            if (at == size) {
                *out = std::move(fast);
                return true;
            }
            if (text[at] != QLatin1Char(','))
                break;
            ++at;
        }
    }
    qsizetype start = 0;
    while (start <= trimmed.size()) {
        qsizetype comma = trimmed.indexOf(QLatin1Char(','), start);
        if (comma < 0)
            comma = trimmed.size();
        const QStringView byte = trimmed.sliced(start, comma - start).trimmed();
        start = comma + 1;
        // Nearly always one or two hex digits; anything else takes the
        // general number reading, which also decides what it refuses.
        const int high = byte.size() == 2 ? hexDigitValue(byte[0]) : 0;
        const int low = byte.isEmpty() ? -1 : hexDigitValue(byte[byte.size() - 1]);
        if (byte.size() <= 2 && high >= 0 && low >= 0) {
            out->append(char(high * 16 + low));
            continue;
        }
        bool ok = false;
        const uint v = byte.toUInt(&ok, 16);
        if (!ok || byte.size() > 2 || v > 0xff)
            return false;
        out->append(char(v));
    }
    return true;
}

bool parseData(QStringView data, Value* value) {
    qsizetype pos = 0;
    if (data.startsWith(QLatin1Char('"'))) {
        value->kind = Kind::String;
        return readQuoted(data, pos, &value->text) && data.sliced(pos).trimmed().isEmpty();
    }
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QStringView digits = data.sliced(6).trimmed();
        bool ok = false;
        value->kind = Kind::Dword;
        value->dword = digits.toUInt(&ok, 16);
        return ok && !digits.isEmpty() && digits.size() <= 8;
    }
    if (data.startsWith(QLatin1String("hex:"), Qt::CaseInsensitive)) {
        value->kind = Kind::Binary;
        value->hexType = 3;
        return parseHexList(data.sliced(4), &value->bytes);
    }
    if (data.startsWith(QLatin1String("hex("), Qt::CaseInsensitive)) {
        const qsizetype close = data.indexOf(QLatin1String("):"));
        if (close < 0)
            return false;
        bool ok = false;
        value->kind = Kind::Binary;
        value->hexType = data.sliced(4, std::max<qsizetype>(close - 4, 0)).toInt(&ok, 16);
        return ok && value->hexType >= 0 && parseHexList(data.sliced(close + 2), &value->bytes);
    }
    return false;
}

QString hexList(const QByteArray& bytes, qsizetype firstLineUsed) {
    // Wrapped with a trailing backslash as the registry editor does, so long
    // binary values stay readable.
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve(bytes.size() * 3 + bytes.size() / 25 * 5);
    qsizetype column = firstLineUsed;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out += QLatin1Char(digits[uchar(bytes[i]) >> 4]);
        out += QLatin1Char(digits[uchar(bytes[i]) & 15]);
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
    if (!path.contains(QLatin1Char('\\')) && key.values().isEmpty()) {
        // A hive root with no values of its own needs no section.
    } else {
        *out += QLatin1Char('[') + path + QLatin1String("]\r\n");
        for (const Value& v : key.values()) {
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
    for (const auto& child : key.children())
        serializeKey(*child, path + QLatin1Char('\\') + child->name, out);
}

// Reads quoted value names. Keys of one kind repeat the same few names, so
// a plain name (no escapes) seen lately is shared rather than copied again.
class ValueNames {
public:
    bool read(QStringView line, qsizetype& pos, QString* out) {
        if (pos < line.size() && line[pos] == QLatin1Char('"')) {
            qsizetype end = pos + 1;
            while (end < line.size() && line[end] != QLatin1Char('"') &&
                   line[end] != QLatin1Char('\\'))
                ++end;
            if (end < line.size() && line[end] == QLatin1Char('"')) {
                const QStringView name = line.sliced(pos + 1, end - pos - 1);
                pos = end + 1;
                if (name.isEmpty()) {
                    out->clear();
                    return true;
                }
                for (const QString& seen : seen_) {
                    if (seen.size() == name.size() && QStringView(seen) == name) {
                        *out = seen;
                        return true;
                    }
                }
                *out = name.toString();
                seen_[next_] = *out;
                next_ = (next_ + 1) % std::size(seen_);
                return true;
            }
        }
        return readQuoted(line, pos, out);
    }

private:
    QString seen_[8];
    size_t next_ = 0;
};

// Finds or makes the key of each section line. A store lists its keys one
// below the other, so a section mostly shares the leading names of the one
// before it: those keys are taken from the previous path instead of being
// looked up again. Only names equal letter for letter are taken over; any
// other name is looked up, which matches it without regard to case.
class SectionResolver {
public:
    // The key for a section's path (without the brackets), or nullptr when
    // it does not start with a known root key.
    Key* resolve(Store* store, QStringView path) {
        qsizetype depth = 0;
        qsizetype at = 0;
        Key* key = nullptr;
        bool reusing = true;
        while (at < path.size()) {
            qsizetype end = path.indexOf(QLatin1Char('\\'), at);
            if (end < 0)
                end = path.size();
            const QStringView segment = path.sliced(at, end - at);
            at = end + 1;
            if (segment.isEmpty())
                continue;
            if (reusing && depth < qsizetype(names_.size()) && names_[depth] == segment) {
                key = keys_[depth];
            } else {
                reusing = false;
                names_.resize(depth);
                keys_.resize(depth);
                key = depth == 0 ? root(store, segment) : key->childOrNew(segment.toString());
                if (!key)
                    return nullptr;
                names_.push_back(segment.toString());
                keys_.push_back(key);
            }
            ++depth;
        }
        if (depth == 0)
            return nullptr;
        // The next section may share no more than this one's names.
        names_.resize(depth);
        keys_.resize(depth);
        return key;
    }

private:
    static Key* root(Store* store, QStringView name) {
        for (int h = 0; h < HiveCount; ++h)
            if (name.compare(QLatin1StringView(hiveNames[h]), Qt::CaseInsensitive) == 0)
                return &store->hives[h];
        return nullptr;
    }

    std::vector<QString> names_; // the previous section's names, as written
    std::vector<Key*> keys_;     // and the keys they led to
};

} // namespace

QString foldedName(const QString& name) {
    // Nearly every name is ASCII, where folding is lowering A to Z: a name
    // without capitals is its own folded form and costs no copy.
    qsizetype firstCapital = -1;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c >= 0x80) {
            firstCapital = -2;
            break;
        }
        if (firstCapital == -1 && c >= 'A' && c <= 'Z')
            firstCapital = i;
    }
    if (firstCapital == -1)
        return name;
    if (firstCapital >= 0) {
        QString lowered = name;
        char16_t* text = reinterpret_cast<char16_t*>(lowered.data());
        for (qsizetype i = firstCapital; i < lowered.size(); ++i)
            if (text[i] >= 'A' && text[i] <= 'Z')
                text[i] = char16_t(text[i] + ('a' - 'A'));
        return lowered;
    }
    QString folded;
    folded.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), name[++i].unicode());
        c = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(c)) {
            folded += QChar(QChar::highSurrogate(c));
            folded += QChar(QChar::lowSurrogate(c));
        } else {
            folded += QChar(char16_t(c));
        }
    }
    return folded;
}

namespace {

bool sameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

qsizetype Key::childPosition(const QString& childName) const {
    if (!childIndex_.isEmpty()) {
        Key* const found = childIndex_.value(foldedName(childName), nullptr);
        if (!found)
            return -1;
        for (qsizetype i = qsizetype(children_.size()) - 1; i >= 0; --i)
            if (children_[size_t(i)].get() == found)
                return i;
        return -1;
    }
    for (size_t i = 0; i < children_.size(); ++i)
        if (sameName(children_[i]->name, childName))
            return qsizetype(i);
    return -1;
}

Key* Key::child(const QString& childName) const {
    if (!childIndex_.isEmpty())
        return childIndex_.value(foldedName(childName), nullptr);
    const qsizetype at = childPosition(childName);
    return at < 0 ? nullptr : children_[size_t(at)].get();
}

Key* Key::childOrNew(const QString& childName) {
    if (childIndex_.isEmpty() && children_.size() < IndexFrom) {
        if (Key* found = child(childName))
            return found;
        children_.push_back(std::make_unique<Key>());
        children_.back()->name = childName;
        return children_.back().get();
    }
    if (childIndex_.isEmpty()) {
        for (const auto& existing : children_)
            childIndex_.insert(foldedName(existing->name), existing.get());
    }
    Key*& slot = childIndex_[foldedName(childName)];
    if (!slot) {
        children_.push_back(std::make_unique<Key>());
        children_.back()->name = childName;
        slot = children_.back().get();
    }
    return slot;
}

bool Key::removeChild(const QString& childName) {
    const qsizetype at = childPosition(childName);
    if (at < 0)
        return false;
    if (!childIndex_.isEmpty())
        childIndex_.remove(foldedName(childName));
    children_.erase(children_.begin() + at);
    return true;
}

qsizetype Key::valuePosition(const QString& valueName) const {
    if (!valueIndex_.isEmpty())
        return valueIndex_.value(foldedName(valueName), -1);
    for (qsizetype i = 0; i < values_.size(); ++i)
        if (sameName(values_[i].name, valueName))
            return i;
    return -1;
}

Value* Key::value(const QString& valueName) {
    const qsizetype at = valuePosition(valueName);
    return at < 0 ? nullptr : &values_[at];
}

const Value* Key::value(const QString& valueName) const {
    const qsizetype at = valuePosition(valueName);
    return at < 0 ? nullptr : &values_[at];
}

void Key::putValue(const Value& value) {
    putValue(Value(value));
}

void Key::putValue(Value&& value) {
    const qsizetype at = valuePosition(value.name);
    if (at >= 0) {
        values_[at] = std::move(value);
        return;
    }
    if (!valueIndex_.isEmpty()) {
        valueIndex_.insert(foldedName(value.name), values_.size());
    } else if (size_t(values_.size()) + 1 >= IndexFrom) {
        for (qsizetype i = 0; i < values_.size(); ++i)
            valueIndex_.insert(foldedName(values_[i].name), i);
        valueIndex_.insert(foldedName(value.name), values_.size());
    }
    values_.append(std::move(value));
}

bool Key::removeValue(const QString& valueName) {
    const qsizetype removed = valuePosition(valueName);
    if (removed < 0)
        return false;
    values_.removeAt(removed);
    if (valueIndex_.isEmpty())
        return true;
    valueIndex_.remove(foldedName(valueName));
    // The values after it moved up by one.
    for (auto& position : valueIndex_)
        if (position > removed)
            --position;
    return true;
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
    QString allText = QString::fromUtf8(text);
    if (allText.startsWith(QChar(0xfeff)))
        allText.remove(0, 1);
    // Lines are looked at in place: a store of many keys must not cost an
    // allocation per line and per byte.
    const QStringView all(allText);
    qsizetype at = 0;  // start of the next line
    int lineCount = 0; // lines taken so far
    auto hasLine = [&] { return at <= all.size(); };
    auto nextLine = [&] {
        qsizetype lf = all.indexOf(QLatin1Char('\n'), at);
        if (lf < 0)
            lf = all.size();
        QStringView line = all.sliced(at, lf - at);
        at = lf + 1;
        ++lineCount;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        return line;
    };
    auto fail = [&](int line, const QString& why) {
        *errorLine = line;
        *reason = why;
        return false;
    };
    auto continued = [](QStringView line) {
        return line.endsWith(QLatin1Char('\\')) && !line.trimmed().startsWith(QLatin1Char('['));
    };

    bool sawHeader = false;
    SectionResolver sections;
    ValueNames valueNames;
    Key* current = nullptr;
    QString joined; // a value continued over several lines
    while (hasLine()) {
        const int lineNumber = lineCount + 1;
        QStringView line = nextLine();
        // A value continued on the next line ends in a backslash.
        if (continued(line) && hasLine()) {
            joined = line.toString();
            while (continued(joined) && hasLine()) {
                joined.chop(1);
                joined += nextLine().trimmed();
            }
            line = joined;
        }
        const QStringView trimmed = line.trimmed();
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
            current = sections.resolve(out, trimmed.sliced(1, trimmed.size() - 2));
            if (!current)
                return fail(lineNumber, QStringLiteral("unknown root key"));
            continue;
        }
        if (!current)
            return fail(lineNumber, QStringLiteral("a value outside any key"));
        Value value;
        qsizetype pos = 0;
        if (trimmed.startsWith(QLatin1Char('@'))) {
            pos = 1;
        } else if (!valueNames.read(trimmed, pos, &value.name)) {
            return fail(lineNumber, QStringLiteral("bad value name"));
        }
        while (pos < trimmed.size() && trimmed[pos].isSpace())
            ++pos;
        if (pos >= trimmed.size() || trimmed[pos] != QLatin1Char('='))
            return fail(lineNumber, QStringLiteral("missing '='"));
        if (!parseData(trimmed.sliced(pos + 1).trimmed(), &value))
            return fail(lineNumber, QStringLiteral("bad value data"));
        current->putValue(std::move(value));
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
