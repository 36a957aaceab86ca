#pragma once
// The stream of a file answer. The system copies its bytes straight from the
// file to the socket (sendfile), so a file never passes through the
// program's memory, and never more bytes than the answer's header announced.
// It holds the opened descriptor itself: nothing is asked of the system
// beyond what sending needs.
#include <QIODevice>

namespace webserver {

class FileStream : public QIODevice {
public:
    // Takes over fd, opened for reading; length: the bytes to send from the
    // file's current position. The stream is open for reading at once.
    FileStream(int fd, qint64 length);
    ~FileStream() override;
    // Closes and takes over another file, as if made anew for it.
    void reopen(int fd, qint64 length);

    enum class Sent { Some, WouldBlock, Done, Unsupported, Failed };
    // Hands up to most bytes to the socket. Unsupported: this file cannot be
    // sent that way (read it as a stream instead); Failed: the socket failed.
    Sent sendTo(int socket, qint64 most);
    // False once sendTo has found the file cannot be sent directly.
    bool direct() const { return direct_; }

    // The bytes still to send, for reading the stream as a stream.
    qint64 size() const override { return pos() + left_; }
    bool isSequential() const override { return false; }
    void close() override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    int fd_;
    qint64 left_;
    bool direct_ = true;
};

} // namespace webserver
