#pragma once
// Text taken from a page's HTML (its title) holds character references:
// "&eacute;", "&amp;", "&#232;", "&#xE8;". They are decoded before the text
// is stored, escaped again for the catalogue or made into a file name, so a
// title shows as the page shows it and is never escaped twice.
#include <QByteArray>

namespace catalogue {

// Decodes the named references of HTML 4 and the numeric ones (decimal and
// hexadecimal) into UTF-8. A reference needs its closing ";"; an unknown
// name is left as it stands. Numbers 128 to 159 are read as the windows-1252
// characters that pages mean by them; a number that is no character (0,
// surrogates, beyond U+10FFFF) becomes U+FFFD. Other bytes pass unchanged.
QByteArray DecodeHtmlText(const QByteArray& html);

// A page title as its readers expect it: every byte up to the blank (control
// characters included) goes from both ends; bytes above ASCII stay.
QByteArray trimmedTitle(const QByteArray& title);

} // namespace catalogue
