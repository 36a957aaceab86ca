#pragma once
// Turning the port text of the configuration into a port number.
#include <QString>

namespace webserver {

struct PortResolution {
    bool ok = false;
    quint16 port = 0;
    QString error; // the failure text when !ok
};

// A text starting with a digit is a decimal number (0 lets the system
// choose); any other text is a TCP service name. Empty texts, texts of 32
// characters or more and numbers above 65535 are invalid.
PortResolution resolvePort(const QString& text);

} // namespace webserver
