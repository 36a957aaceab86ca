#include "platform/available_memory.h"

#include <QByteArray>
#include <QFile>

namespace platform {

long availableMemoryMiB() {
    QFile info(QStringLiteral("/proc/meminfo"));
    if (!info.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : info.readAll().split('\n'))
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').first().toLong() / 1024;
    return -1;
}

} // namespace platform
