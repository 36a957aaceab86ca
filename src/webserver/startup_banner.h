#pragma once
// The lines the server log shows at start-up: the server's components and
// the socket layer of the C library they run on.
#include <QStringList>

namespace webserver {

QStringList startupBanner();

} // namespace webserver
