#pragma once
// The one error type of page generation: a transformation, a stylesheet or
// catalogue that does not parse, or a file that cannot be read or written.
// It ends the run that raised it; pages already written keep their new text.
#include <QString>

#include <stdexcept>

namespace pages {

class PagesError : public std::runtime_error {
public:
    explicit PagesError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

} // namespace pages
