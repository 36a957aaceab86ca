#pragma once
// A listener on a local socket that is not Pagorama: what another user, or
// any other program, might plant where Pagorama's socket goes. It runs in a
// child process, answers every connection with a fixed text after taking
// what the client sends within half a second, and reports how many bytes
// it was sent.
#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace e2e {

class PlantedListener {
public:
    struct Plant {
        bool fileOfNobody = false;    // the socket file is given to uid 65534
        bool processOfNobody = false; // the listener runs as uid 65534
        bool holdsLock = false;       // it holds a lock on path + ".lock", mode 0666
    };
    // Anything of nobody's needs root; the folder of path must exist.
    PlantedListener(const QString& path, const QByteArray& answer, Plant plant);
    ~PlantedListener(); // ends the listener and removes its files
    PlantedListener(const PlantedListener&) = delete;
    PlantedListener& operator=(const PlantedListener&) = delete;

    bool listening() const { return listening_; }
    // The bytes that clients have sent it so far.
    long bytesReceived();

private:
    QByteArray path_;
    bool holdsLock_ = false;
    pid_t child_ = -1;
    int reports_ = -1; // the child writes each connection's count here
    long received_ = 0;
    bool listening_ = false;
};

} // namespace e2e
