#include "program_command.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

CommandResult runPagoramaCommand(const testsupport::TempHome& home, const QStringList& arguments,
                                 int timeoutMs) {
    CommandResult result;
    QTemporaryDir outputs;
    const QByteArray outPath = QFile::encodeName(outputs.filePath("out"));
    const QByteArray errPath = QFile::encodeName(outputs.filePath("err"));

    // The test's environment with its own HOME and no display.
    QList<QByteArray> environment;
    for (const QString& line : home.programEnvironment().toStringList())
        environment << QFile::encodeName(line);
    QList<char*> envp;
    for (QByteArray& line : environment)
        envp << line.data();
    envp << nullptr;

    QList<QByteArray> args{QByteArray(PAGORAMA_BINARY_DIR "/pagorama")};
    for (const QString& argument : arguments)
        args << QFile::encodeName(argument);
    QList<char*> argv;
    for (QByteArray& arg : args)
        argv << arg.data();
    argv << nullptr;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;

    int status = 0;
    rusage usage{};
    while (true) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (clock.hasExpired(timeoutMs)) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            status = -1;
            break;
        }
        QThread::msleep(5);
    }
    result.elapsedMs = clock.elapsed();
    result.maxRssKiB = usage.ru_maxrss;
    if (status != -1 && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.out = readAll(outputs.filePath("out"));
    result.err = readAll(outputs.filePath("err"));
    return result;
}

} // namespace e2e
