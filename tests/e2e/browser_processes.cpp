#include "browser_processes.h"

#include "data_folder.h"

#include <QDir>
#include <QFile>

namespace e2e {

bool ProcessInfo::mentions(const QByteArray& text) const {
    for (const QByteArray& argument : arguments)
        if (argument.contains(text))
            return true;
    return false;
}

QString ProcessInfo::profile() const {
    for (const QByteArray& argument : arguments)
        if (argument.startsWith("--user-data-dir="))
            return QFile::decodeName(argument.mid(16));
    return {};
}

QList<ProcessInfo> liveProcesses() {
    QList<ProcessInfo> found;
    for (const QString& name : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = name.toInt(&number);
        if (!number)
            continue;
        // "pid (name) state ppid pgrp ...": the name may hold blanks.
        const QByteArray stat = fileBytes("/proc/" + name + "/stat");
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (close < 0 || fields.size() < 3 || fields[0] == "Z")
            continue;
        ProcessInfo process;
        process.pid = pid;
        process.parent = fields[1].toInt();
        process.group = fields[2].toInt();
        process.arguments = fileBytes("/proc/" + name + "/cmdline").split('\0');
        found << process;
    }
    return found;
}

ProcessInfo browserOf(int programPid) {
    for (const ProcessInfo& process : liveProcesses())
        if (process.parent == programPid && process.mentions("--user-data-dir=") &&
            !process.mentions("--type="))
            return process;
    return {};
}

QList<int> processesOfBrowsers(const QList<ProcessInfo>& browsers) {
    QList<int> found;
    for (const ProcessInfo& process : liveProcesses())
        for (const ProcessInfo& browser : browsers)
            if (process.group == browser.pid ||
                process.mentions(QFile::encodeName(browser.profile()))) {
                found << process.pid;
                break;
            }
    return found;
}

} // namespace e2e
