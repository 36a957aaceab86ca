#pragma once
// Typed property values of an Internet shortcut and their text form.
#include <QByteArray>
#include <QString>

namespace catalogue {

// Type codes of property values.
namespace vt {
inline constexpr int Empty = 0, Null = 1, I2 = 2, I4 = 3, R4 = 4, R8 = 5, BStr = 8, Error = 10,
                     Bool = 11, UI1 = 17, UI2 = 18, UI4 = 19, I8 = 20, UI8 = 21, Int = 22,
                     UInt = 23, Void = 24, LpStr = 30, LpWStr = 31, FileTime = 64, ClsId = 72,
                     Illegal = 65535;
}

struct PropertyValue {
    int type = vt::Empty;
    qint64 integer = 0; // integer kinds, error codes, booleans, file times (as bits)
    double real = 0;    // floating point kinds
    QString text;       // strings and class identifiers; the raw text of other types

    bool isEmpty() const { return type == vt::Empty; }
};

// Reads a value written as "VT,value" text of the given type; an unparsable
// number gives the empty value. Integers may be decimal or 0x hexadecimal.
PropertyValue ParsePropertyValue(int type, const QString& text);

// The text of a value: numbers in decimal, floating point in the user's
// format, file times as the local date in the user's short date format.
QString PropertyText(const PropertyValue& value);

} // namespace catalogue
