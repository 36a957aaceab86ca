#include "network_namespaces.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

namespace {

// A process that sits in a new network namespace until it is killed or the
// test ends; the namespace lives as long as it does.
pid_t startHolder() {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const char made = ::unshare(CLONE_NEWNET) == 0 ? 'y' : 'n';
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &made, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char made = 'n';
    const bool told = pid > 0 && ::read(ready[0], &made, 1) == 1;
    ::close(ready[0]);
    if (pid > 0 && (!told || made != 'y')) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

} // namespace

NetworkNamespaces::NetworkNamespaces() {
    if (::geteuid() != 0) {
        error_ = "making network namespaces needs root";
        return;
    }
    for (int side : {0, 1}) {
        holders_[side] = startHolder();
        if (holders_[side] > 0)
            fds_[side] = ::open(QStringLiteral("/proc/%1/ns/net").arg(holders_[side]).toLatin1(),
                                O_RDONLY | O_CLOEXEC);
        if (fds_[side] < 0) {
            error_ = "cannot make a network namespace here";
            return;
        }
    }
    const QString peer = QString::number(holders_[1]);
    const bool ready =
        ip(0, "link set lo up") && ip(1, "link set lo up") &&
        ip(0, "link add pgthis type veth peer name pgpeer netns " + peer) &&
        ip(0, QStringLiteral("addr add %1/24 dev pgthis").arg(ThisAddress)) &&
        ip(1, QStringLiteral("addr add %1/24 dev pgpeer").arg(PeerAddress)) &&
        ip(0, "link set pgthis up") && ip(1, "link set pgpeer up");
    if (!ready && error_.isEmpty())
        error_ = "cannot set up the namespaces' interfaces";
}

NetworkNamespaces::~NetworkNamespaces() {
    for (int side : {0, 1}) {
        if (fds_[side] >= 0)
            ::close(fds_[side]);
        if (holders_[side] > 0) {
            ::kill(holders_[side], SIGKILL);
            ::waitpid(holders_[side], nullptr, 0);
        }
    }
}

bool NetworkNamespaces::ip(int side, const QString& arguments) {
    QProcess command;
    command.start("nsenter", QStringList{QStringLiteral("--net=/proc/%1/ns/net").arg(holders_[side]),
                                         "ip"} +
                                 arguments.split(' '));
    const bool done = command.waitForFinished(10000) &&
                      command.exitStatus() == QProcess::NormalExit && command.exitCode() == 0;
    if (!done)
        error_ = "ip " + arguments + ": " + QString::fromLocal8Bit(command.readAllStandardError());
    return done;
}

QString NetworkNamespaces::listing() const {
    QString text;
    for (int side : {0, 1}) {
        QProcess command;
        command.start("nsenter", {QStringLiteral("--net=/proc/%1/ns/net").arg(holders_[side]), "ip",
                                  "-brief", "addr"});
        command.waitForFinished(10000);
        text += (side == 0 ? "this computer:\n" : "other computer:\n") +
                QString::fromLocal8Bit(command.readAllStandardOutput());
    }
    return text;
}

bool NetworkNamespaces::enter(int fd) {
    const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
    EXPECT_TRUE(entered) << "cannot enter the test's network namespace";
    return entered;
}

} // namespace e2e
