#pragma once
// Reading one hexadecimal digit, as percent-escapes, registry hex lists,
// hex-encoded names and numeric character references all need it.
#include <QChar>

namespace platform {

// The value of one hexadecimal digit (either case), -1 for any other
// character, including every byte above ASCII.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The same for one UTF-16 unit: characters beyond ASCII are no digits, even
// where their low byte would be one.
constexpr int hexDigitValue(QChar c) {
    return c.unicode() < 0x80 ? hexDigitValue(char(c.unicode())) : -1;
}

} // namespace platform
