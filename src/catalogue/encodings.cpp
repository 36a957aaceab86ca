#include "catalogue/encodings.h"

#include "platform/hex_digit.h"

#include <string>

namespace catalogue {

namespace {

void appendReference(QByteArray& out, uint codePoint) {
    out += "&#";
    out += QByteArray::number(codePoint);
    out += ';';
}

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Decodes one UTF-8 sequence at data[pos]. Returns its length, or 0 when the
// bytes there are not valid UTF-8 (overlong forms, surrogates, values beyond
// U+10FFFF and cut-off sequences count as invalid).
int decodeUtf8(const unsigned char* data, qsizetype size, qsizetype pos, uint& codePoint) {
    const unsigned char lead = data[pos];
    int length;
    uint minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (pos + length > size)
        return 0;
    for (int i = 1; i < length; ++i) {
        if (!isContinuation(data[pos + i]))
            return 0;
        codePoint = (codePoint << 6) | (data[pos + i] & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

// Characters that XML 1.0 does not allow even as numeric references.
bool forbiddenInXml(uint codePoint) {
    if (codePoint < 32)
        return codePoint != '\t' && codePoint != '\n' && codePoint != '\r';
    return codePoint == 0xFFFE || codePoint == 0xFFFF;
}

QByteArray upperHexPair(int code) {
    static const char digits[] = "0123456789ABCDEF";
    QByteArray pair(2, '0');
    pair[0] = digits[(code >> 4) & 0xF];
    pair[1] = digits[code & 0xF];
    return pair;
}

} // namespace

QByteArray EscapeText(const QByteArray& utf8) {
    const auto* data = reinterpret_cast<const unsigned char*>(utf8.constData());
    const qsizetype size = utf8.size();
    QByteArray out;
    out.reserve(size + size / 4);
    for (qsizetype pos = 0; pos < size;) {
        const unsigned char byte = data[pos];
        if (byte < 0x80) {
            if (byte == '&')
                out += "&amp;";
            else if (byte == '<')
                out += "&#60;";
            else if (forbiddenInXml(byte))
                out += "&#65533;";
            else if (byte <= 32 || byte == 127)
                appendReference(out, byte);
            else
                out += char(byte);
            ++pos;
            continue;
        }
        uint codePoint = 0;
        const int length = decodeUtf8(data, size, pos, codePoint);
        if (length == 0) {
            appendReference(out, byte);
            ++pos;
        } else {
            appendReference(out, forbiddenInXml(codePoint) ? 0xFFFD : codePoint);
            pos += length;
        }
    }
    return out;
}

QByteArray EscapeQuotedValue(const QByteArray& utf8) {
    QByteArray out = EscapeText(utf8);
    out.replace('"', "&#34;");
    return out;
}

QByteArray UnescapeText(const QByteArray& text) {
    // The replacements run one after the other over the whole text, in this
    // order, so a sequence produced by one step can be decoded by a later one.
    QByteArray out = text;
    out.replace("&amp;", "&");
    static const int nameCharacters[] = {32, 34, 42, 47, 58, 60, 62, 63, 92, 124};
    for (int code : nameCharacters)
        out.replace('%' + upperHexPair(code), QByteArray(1, char(code)));
    for (int code = 0; code <= 32; ++code)
        out.replace("&#" + upperHexPair(code) + ';', QByteArray(1, char(code)));
    for (int code = 127; code <= 255; ++code)
        out.replace('%' + upperHexPair(code), QByteArray(1, char(code)));
    return out;
}

QByteArray HexEncode(const QByteArray& bytes) {
    return bytes.toHex().toUpper();
}

namespace {

// Decodes up to the first pair that is not hexadecimal; *bad is its position.
QByteArray decodeHexPairs(const QByteArray& hex, qsizetype* bad) {
    QByteArray out;
    out.reserve(hex.size() / 2);
    *bad = -1;
    for (qsizetype pos = 0; pos + 1 < hex.size(); pos += 2) {
        const int high = platform::hexDigitValue(hex[pos]);
        const int low = platform::hexDigitValue(hex[pos + 1]);
        if (high < 0 || low < 0) {
            *bad = pos;
            break;
        }
        out += char(high * 16 + low);
    }
    return out;
}

} // namespace

QByteArray HexDecode(const QByteArray& hex) {
    qsizetype bad = -1;
    QByteArray out = decodeHexPairs(hex, &bad);
    if (bad >= 0)
        throw ConversionError("'" + std::string(hex.constData() + bad, 2) +
                              "' is not a valid hexadecimal value");
    return out;
}

std::optional<QByteArray> HexDecodeChecked(const QByteArray& hex) {
    qsizetype bad = -1;
    QByteArray out = decodeHexPairs(hex, &bad);
    if (bad >= 0)
        return std::nullopt;
    return out;
}

} // namespace catalogue
