#pragma once
// The value encodings of the catalogue files and of the edit pages' posts.
// Every function works on bytes: names and titles arrive as UTF-8.
#include <QByteArray>
#include <optional>
#include <stdexcept>

namespace catalogue {

// Raised by HexDecode for a pair of characters that is not a hexadecimal number.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Makes a value safe and pure ASCII for the catalogue: "&" as "&amp;", "<" as
// "&#60;", the blank and every character outside printable ASCII as a decimal
// numeric reference of its code point (a byte that is not part of valid UTF-8
// by its byte value), and the control characters XML forbids even as
// references as "&#65533;". The double quote is left alone.
QByteArray EscapeText(const QByteArray& utf8);

// EscapeText, then every '"' as "&#34;": for values written inside quotes.
QByteArray EscapeQuotedValue(const QByteArray& utf8);

// Decodes the texts posted by the edit pages: "&amp;", the percent codes of
// the characters a file name cannot hold, "&#XX;" (hexadecimal) for codes up
// to 32 and "%XX" for codes 127 to 255. Uppercase hexadecimal digits only;
// any other sequence is left as it stands.
QByteArray UnescapeText(const QByteArray& text);

// Two uppercase hexadecimal digits per byte.
QByteArray HexEncode(const QByteArray& bytes);

// Reads two characters at a time as one byte; a single character left at the
// end is ignored. Throws ConversionError for a pair that is not hexadecimal.
QByteArray HexDecode(const QByteArray& hex);
// HexDecode for text from outside (a form post): nothing where HexDecode
// would throw, so a flood of bad values costs no exceptions.
std::optional<QByteArray> HexDecodeChecked(const QByteArray& hex);

} // namespace catalogue
