// A profile's text: read, the values of the sections and keys it names read
// and changed, and the text written back must read as the same values.
#include "fuzz_input.h"
#include "platform/ini_file.h"

#include <QStringList>

using platform::IniFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text = fuzz::bytesOf(data, size);
    IniFile ini;
    ini.parse(text);
    const QByteArray contents = ini.contents();
    // Nothing untouched may change when the line ends are all alike.
    const qsizetype crlf = text.count("\r\n");
    if (crlf == text.count('\r') && (crlf == 0 || crlf == text.count('\n')))
        FUZZ_CHECK(contents == text);

    // Names to ask for: what precedes "]" and "=" on each line, a few at most.
    QStringList sections{QStringLiteral("Options")}, keys{QStringLiteral("Port")};
    for (const QByteArray& line : text.split('\n').mid(0, 16)) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[') && trimmed.contains(']'))
            sections << QString::fromUtf8(trimmed.mid(1, trimmed.indexOf(']') - 1));
        else if (trimmed.contains('='))
            keys << QString::fromUtf8(trimmed.left(trimmed.indexOf('=')));
    }
    for (const QString& section : sections)
        for (const QString& key : keys)
            ini.readInt(section, key, 0);
    ini.writeString(sections.last(), keys.last(), QStringLiteral(" changed\r\nvalue "));
    ini.writeInt(QStringLiteral("Added"), keys.first(), 7);

    IniFile reread;
    reread.parse(ini.contents());
    for (const QString& section : sections + QStringList{QStringLiteral("Added")})
        for (const QString& key : keys)
            FUZZ_CHECK(reread.readString(section, key, QStringLiteral("\n")) ==
                       ini.readString(section, key, QStringLiteral("\n")));
    return 0;
}
