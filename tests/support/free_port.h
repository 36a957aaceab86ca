#pragma once
// A TCP port on 127.0.0.1 that nothing listens on right now.
#include <QtGlobal>

namespace testsupport {

quint16 freePort();

} // namespace testsupport
