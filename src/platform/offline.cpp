#include "platform/offline.h"

#include "platform/registry.h"

namespace platform {

bool isOffline() {
    RegistryKey key;
    if (key.open(RegistryHive::CurrentUser,
                 QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"),
                 false) != regerror::Success)
        return false;
    const QString name = QStringLiteral("GlobalUserOffline");
    switch (key.valueType(name)) {
    case RegistryValueType::None:
        return false;
    case RegistryValueType::Dword:
        return key.readDword(name).value_or(0) != 0;
    case RegistryValueType::String: {
        const QString text = key.readString(name).value_or(QString()).trimmed();
        bool numeric = false;
        const qlonglong number = text.toLongLong(&numeric);
        return numeric ? number != 0 : !text.isEmpty();
    }
    case RegistryValueType::Binary:
        break;
    }
    const QByteArray bytes = key.readBinary(name).value_or(QByteArray());
    return bytes.count('\0') != bytes.size();
}

} // namespace platform
