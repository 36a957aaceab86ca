#pragma once
// Two network namespaces of the test's own, joined by a veth pair: one plays
// this computer (loopback up, 192.0.2.1/24 on the pair), the other a second
// computer on its network (192.0.2.2/24). Both addresses are of a range kept
// for documentation, and both vanish with the namespaces: no traffic ever
// leaves them. Making them needs root.
#include <QString>

#include <sys/types.h>

#include <functional>
#include <thread>

namespace e2e {

class NetworkNamespaces {
public:
    static constexpr char ThisAddress[] = "192.0.2.1";
    static constexpr char PeerAddress[] = "192.0.2.2";

    NetworkNamespaces();
    ~NetworkNamespaces();
    NetworkNamespaces(const NetworkNamespaces&) = delete;
    NetworkNamespaces& operator=(const NetworkNamespaces&) = delete;

    // Empty when both namespaces are ready, else why they are not.
    QString error() const { return error_; }
    // The namespace of "this computer", for a program started in it.
    int thisComputer() const { return fds_[0]; }
    // `ip addr` of both namespaces.
    QString listing() const;

    // Runs work on a thread of its own inside one namespace: every socket it
    // makes belongs there.
    template <typename Work> auto onThisComputer(Work work) const { return runIn(fds_[0], work); }
    template <typename Work> auto onPeer(Work work) const { return runIn(fds_[1], work); }

private:
    template <typename Work> static auto runIn(int fd, Work work) {
        decltype(work()) result{};
        std::thread inside([&] {
            if (enter(fd))
                result = work();
        });
        inside.join();
        return result;
    }
    static bool enter(int fd);
    bool ip(int side, const QString& arguments);

    pid_t holders_[2] = {-1, -1};
    int fds_[2] = {-1, -1};
    QString error_;
};

} // namespace e2e
