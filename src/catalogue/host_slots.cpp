#include "catalogue/host_slots.h"

#include <QUrl>

namespace catalogue {

QString HostSlots::keyOf(const QString& url) {
    const QUrl address(url.trimmed());
    const QString host = address.host().toLower();
    if (host.isEmpty())
        return {};
    const QString scheme = address.scheme().toLower();
    const int standard = scheme == QLatin1String("https") ? 443
                         : scheme == QLatin1String("ftp") ? 21
                                                          : 80;
    return host + QLatin1Char(':') + QString::number(address.port(standard));
}

bool HostSlots::take(const QString& key) {
    if (key.isEmpty())
        return true;
    int& count = taken_[key];
    if (count >= PerHost)
        return false;
    ++count;
    return true;
}

void HostSlots::release(const QString& key) {
    if (key.isEmpty())
        return;
    auto it = taken_.find(key);
    if (it == taken_.end())
        return;
    if (--it.value() <= 0)
        taken_.erase(it);
}

} // namespace catalogue
