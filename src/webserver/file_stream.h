#pragma once
// The stream of a file answer. The system copies its bytes straight from the
// file to the socket (sendfile), so a file never passes through the
// program's memory, and never more bytes than the answer's header announced.
#include <QFile>

namespace webserver {

class FileStream : public QFile {
public:
    // length: the bytes to send from the file's current position.
    explicit FileStream(qint64 length) : left_(length) {}

    enum class Sent { Some, WouldBlock, Done, Unsupported, Failed };
    // Hands up to most bytes to the socket. Unsupported: this file cannot be
    // sent that way (read it as a stream instead); Failed: the socket failed.
    Sent sendTo(int socket, qint64 most);
    // False once sendTo has found the file cannot be sent directly.
    bool direct() const { return direct_; }

private:
    qint64 left_;
    bool direct_ = true;
};

} // namespace webserver
