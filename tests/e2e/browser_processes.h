#pragma once
// The capture browser's processes among those of a running program, as
// /proc shows them.
#include <QByteArray>
#include <QList>
#include <QString>

namespace e2e {

// A live process.
struct ProcessInfo {
    int pid = 0;
    int parent = 0;
    int group = 0;
    QList<QByteArray> arguments;

    bool mentions(const QByteArray& text) const;
    // Its --user-data-dir, empty without one.
    QString profile() const;
};

// Every live process (zombies do not count).
QList<ProcessInfo> liveProcesses();
// The browser's main process among the program's children (its helper
// processes carry a --type); pid 0 when there is none.
ProcessInfo browserOf(int programPid);
// Processes of the given browsers: their process groups and anything that
// names one of their profiles (such as the crash handler).
QList<int> processesOfBrowsers(const QList<ProcessInfo>& browsers);

} // namespace e2e
