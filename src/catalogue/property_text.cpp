#include "catalogue/property_text.h"

#include <QDateTime>
#include <QLocale>
#include <QUuid>

namespace catalogue {

namespace {

// 100 ns ticks between 1601-01-01 and 1970-01-01 (UTC).
constexpr qint64 fileTimeUnixOffset = 116444736000000000LL;

bool parseUnsigned(const QString& text, quint64* out) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    if (trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        *out = trimmed.mid(2).toULongLong(&ok, 16);
    else
        *out = trimmed.toULongLong(&ok, 10);
    return ok;
}

bool parseSigned(const QString& text, qint64* out) {
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        quint64 bits = 0;
        if (!parseUnsigned(trimmed, &bits))
            return false;
        *out = qint64(bits);
        return true;
    }
    bool ok = false;
    *out = trimmed.toLongLong(&ok, 10);
    return ok;
}

QString fileTimeDate(quint64 ticks) {
    // Each side divided first: the difference of the ticks themselves
    // overflows for the lowest values.
    const qint64 msecs = qint64(ticks) / 10000 - fileTimeUnixOffset / 10000;
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
    return QLocale::system().toString(utc.toLocalTime().date(), QLocale::ShortFormat);
}

QString realText(double value) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

} // namespace

PropertyValue ParsePropertyValue(int type, const QString& text) {
    PropertyValue value;
    value.type = type;
    value.text = text;
    bool ok = true;
    switch (type) {
    case vt::I2:
    case vt::I4:
    case vt::Int:
    case vt::I8:
    case vt::Bool:
    case vt::UI1:
    case vt::UI2:
    case vt::UI4:
    case vt::UInt:
    case vt::UI8:
    case vt::FileTime:
        ok = parseSigned(text, &value.integer);
        if (!ok && (type == vt::UI8 || type == vt::FileTime)) {
            quint64 bits = 0;
            ok = parseUnsigned(text, &bits);
            value.integer = qint64(bits);
        }
        break;
    case vt::Error:
        ok = parseSigned(text, &value.integer);
        value.integer = qint32(value.integer); // error codes are 32-bit signed
        break;
    case vt::R4:
    case vt::R8:
        value.real = text.trimmed().toDouble(&ok);
        if (type == vt::R4)
            value.real = float(value.real);
        break;
    default:
        break;
    }
    if (!ok)
        return {};
    return value;
}

QString PropertyText(const PropertyValue& value) {
    switch (value.type) {
    case vt::Empty:
    case vt::Null:
    case vt::Void:
    case vt::Illegal:
        return {};
    case vt::I2:
        return QString::number(qint16(value.integer));
    case vt::I4:
    case vt::Int:
        return QString::number(qint32(value.integer));
    case vt::R4:
    case vt::R8:
        return realText(value.real);
    case vt::BStr:
    case vt::LpStr:
    case vt::LpWStr:
        return value.text;
    case vt::Error:
        return QStringLiteral("Error code: ") + QString::number(qint32(value.integer));
    case vt::Bool:
        return value.integer != 0 ? QStringLiteral("True") : QStringLiteral("False");
    case vt::UI1:
        return QString::number(quint8(value.integer));
    case vt::UI2:
        return QString::number(quint16(value.integer));
    case vt::UI4:
    case vt::UInt:
        return QString::number(quint32(value.integer));
    case vt::I8:
    case vt::UI8:
        return QString::number(value.integer);
    case vt::FileTime:
        return fileTimeDate(quint64(value.integer));
    case vt::ClsId: {
        const QUuid id(value.text.trimmed());
        return id.isNull() ? value.text : id.toString(QUuid::WithBraces).toUpper();
    }
    default:
        return QStringLiteral("Unsupported property type:") + QString::number(value.type);
    }
}

} // namespace catalogue
