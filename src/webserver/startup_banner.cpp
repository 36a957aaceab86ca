#include "webserver/startup_banner.h"

#include <gnu/libc-version.h>
#include <sys/utsname.h>

namespace webserver {

namespace {
const char* const ComponentVersion = "1.00";
}

QStringList startupBanner() {
    const QString version = QString::fromLatin1(ComponentVersion);
    QStringList lines;
    lines << QStringLiteral("TListenSocket (c) 2026 Pagorama V%1").arg(version);
    lines << QStringLiteral("Using:");
    lines << QStringLiteral("   TSocketLayer (POSIX sockets) V%1").arg(version);
    lines << QStringLiteral("   TListenSocket V%1").arg(version);
    lines << QStringLiteral("   THttpServer V%1").arg(version);
    lines << QStringLiteral("    Sockets:");
    // "major.minor" of the C library that provides the socket calls.
    const QStringList libc = QString::fromLatin1(gnu_get_libc_version()).split('.');
    const int major = libc.value(0).toInt();
    const int minor = libc.value(1).toInt();
    lines << QStringLiteral("        Version %1.%2").arg(major).arg(minor);
    lines << QStringLiteral("        GNU C Library %1 BSD sockets")
                 .arg(QString::fromLatin1(gnu_get_libc_version()));
    utsname system{};
    const QString kernel = uname(&system) == 0
                               ? QStringLiteral("%1 %2").arg(QString::fromLatin1(system.sysname),
                                                             QString::fromLatin1(system.release))
                               : QStringLiteral("unknown system");
    lines << QStringLiteral("        Running on %1").arg(kernel);
    return lines;
}

} // namespace webserver
