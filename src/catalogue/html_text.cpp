#include "catalogue/html_text.h"

#include "platform/hex_digit.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace catalogue {

namespace {

struct NamedReference {
    const char* name;
    char32_t code;
};

// Sorted by name (byte order) for the binary search.
constexpr NamedReference NamedReferences[] = {
    {"AElig", 198},   {"Aacute", 193},  {"Acirc", 194},   {"Agrave", 192},  {"Alpha", 913},
    {"Aring", 197},   {"Atilde", 195},  {"Auml", 196},    {"Beta", 914},    {"Ccedil", 199},
    {"Dagger", 8225}, {"Delta", 916},   {"ETH", 208},     {"Eacute", 201},  {"Ecirc", 202},
    {"Egrave", 200},  {"Euml", 203},    {"Gamma", 915},   {"Iacute", 205},  {"Icirc", 206},
    {"Igrave", 204},  {"Iuml", 207},    {"Lambda", 923},  {"Ntilde", 209},  {"OElig", 338},
    {"Oacute", 211},  {"Ocirc", 212},   {"Ograve", 210},  {"Omega", 937},   {"Oslash", 216},
    {"Otilde", 213},  {"Ouml", 214},    {"Pi", 928},      {"Prime", 8243},  {"Scaron", 352},
    {"Sigma", 931},   {"THORN", 222},   {"Uacute", 218},  {"Ucirc", 219},   {"Ugrave", 217},
    {"Uuml", 220},    {"Yacute", 221},  {"Yuml", 376},    {"aacute", 225},  {"acirc", 226},
    {"acute", 180},   {"aelig", 230},   {"agrave", 224},  {"alpha", 945},   {"amp", 38},
    {"apos", 39},     {"aring", 229},   {"asymp", 8776},  {"atilde", 227},  {"auml", 228},
    {"bdquo", 8222},  {"beta", 946},    {"brvbar", 166},  {"bull", 8226},   {"ccedil", 231},
    {"cedil", 184},   {"cent", 162},    {"circ", 710},    {"clubs", 9827},  {"copy", 169},
    {"curren", 164},  {"dagger", 8224}, {"darr", 8595},   {"deg", 176},     {"delta", 948},
    {"diams", 9830},  {"divide", 247},  {"eacute", 233},  {"ecirc", 234},   {"egrave", 232},
    {"emsp", 8195},   {"ensp", 8194},   {"epsilon", 949}, {"equiv", 8801},  {"eth", 240},
    {"euml", 235},    {"euro", 8364},   {"fnof", 402},    {"frac12", 189},  {"frac14", 188},
    {"frac34", 190},  {"frasl", 8260},  {"gamma", 947},   {"ge", 8805},     {"gt", 62},
    {"hArr", 8660},   {"harr", 8596},   {"hearts", 9829}, {"hellip", 8230}, {"iacute", 237},
    {"icirc", 238},   {"iexcl", 161},   {"igrave", 236},  {"infin", 8734},  {"iquest", 191},
    {"iuml", 239},    {"lArr", 8656},   {"lambda", 955},  {"laquo", 171},   {"larr", 8592},
    {"ldquo", 8220},  {"le", 8804},     {"lowast", 8727}, {"loz", 9674},    {"lrm", 8206},
    {"lsaquo", 8249}, {"lsquo", 8216},  {"lt", 60},       {"macr", 175},    {"mdash", 8212},
    {"micro", 181},   {"middot", 183},  {"minus", 8722},  {"mu", 956},      {"nbsp", 160},
    {"ndash", 8211},  {"ne", 8800},     {"not", 172},     {"ntilde", 241},  {"oacute", 243},
    {"ocirc", 244},   {"oelig", 339},   {"ograve", 242},  {"oline", 8254},  {"omega", 969},
    {"ordf", 170},    {"ordm", 186},    {"oslash", 248},  {"otilde", 245},  {"ouml", 246},
    {"para", 182},    {"part", 8706},   {"permil", 8240}, {"pi", 960},      {"plusmn", 177},
    {"pound", 163},   {"prime", 8242},  {"prod", 8719},   {"quot", 34},     {"rArr", 8658},
    {"radic", 8730},  {"raquo", 187},   {"rarr", 8594},   {"rdquo", 8221},  {"reg", 174},
    {"rlm", 8207},    {"rsaquo", 8250}, {"rsquo", 8217},  {"sbquo", 8218},  {"scaron", 353},
    {"sect", 167},    {"shy", 173},     {"sigma", 963},   {"spades", 9824}, {"sum", 8721},
    {"sup1", 185},    {"sup2", 178},    {"sup3", 179},    {"szlig", 223},   {"thinsp", 8201},
    {"thorn", 254},   {"tilde", 732},   {"times", 215},   {"trade", 8482},  {"uacute", 250},
    {"uarr", 8593},   {"ucirc", 251},   {"ugrave", 249},  {"uml", 168},     {"uuml", 252},
    {"yacute", 253},  {"yen", 165},     {"yuml", 255},    {"zwj", 8205},    {"zwnj", 8204},
};

// What pages mean by the numbers 128 to 159: the windows-1252 characters.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

constexpr char32_t Replacement = 0xFFFD;
// Longer than any name and any number a page writes.
constexpr qsizetype LongestReference = 32;

void appendUtf8(QByteArray& out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

char32_t numberedCharacter(quint64 number) {
    if (number >= 0x80 && number < 0xA0)
        return Windows1252High[number - 0x80];
    if (number == 0 || (number >= 0xD800 && number <= 0xDFFF) || number > 0x10FFFF)
        return Replacement;
    return char32_t(number);
}

// The character of the reference between '&' and ';' (both excluded), or
// nothing when it is no reference this decoder knows.
bool referencedCharacter(const char* text, qsizetype length, char32_t* code) {
    if (length >= 2 && text[0] == '#') {
        const bool hex = text[1] == 'x' || text[1] == 'X';
        const qsizetype first = hex ? 2 : 1;
        if (first == length)
            return false;
        quint64 number = 0;
        for (qsizetype i = first; i < length; ++i) {
            const int base = hex ? 16 : 10;
            const int digit = platform::hexDigitValue(text[i]);
            if (digit < 0 || digit >= base)
                return false;
            number = number * base + quint64(digit);
            if (number > 0x10FFFF)
                number = 0x110000; // stays out of range however long it gets
        }
        *code = numberedCharacter(number);
        return true;
    }
    const std::string name(text, size_t(length));
    const auto found =
        std::lower_bound(std::begin(NamedReferences), std::end(NamedReferences), name,
                         [](const NamedReference& entry, const std::string& key) {
                             return std::strcmp(entry.name, key.c_str()) < 0;
                         });
    if (found == std::end(NamedReferences) || name != found->name)
        return false;
    *code = found->code;
    return true;
}

} // namespace

QByteArray DecodeHtmlText(const QByteArray& html) {
    QByteArray out;
    out.reserve(html.size());
    for (qsizetype pos = 0; pos < html.size();) {
        if (html[pos] == '&') {
            const qsizetype limit = std::min(html.size(), pos + 1 + LongestReference);
            qsizetype end = pos + 1;
            while (end < limit && html[end] != ';' && html[end] != '&')
                ++end;
            char32_t code = 0;
            if (end < limit && html[end] == ';' &&
                referencedCharacter(html.constData() + pos + 1, end - pos - 1, &code)) {
                appendUtf8(out, code);
                pos = end + 1;
                continue;
            }
        }
        out += html[pos++];
    }
    return out;
}

QByteArray trimmedTitle(const QByteArray& title) {
    qsizetype begin = 0, end = title.size();
    while (begin < end && uchar(title[begin]) <= ' ')
        ++begin;
    while (end > begin && uchar(title[end - 1]) <= ' ')
        --end;
    return title.mid(begin, end - begin);
}

} // namespace catalogue
