#include "catalogue/browser_process.h"

#include "catalogue/renderer_trust.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace catalogue {

namespace {

// The browser profiles in the temporary folder, and the lock file in each
// that tells whether its program still runs.
constexpr char kProfilePrefix[] = "pagorama-browser-";
constexpr char kOwnerFile[] = ".owner-lock";
constexpr int kProfileGraceSeconds = 600;

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Moves a descriptor above the numbers the child's pipe ends take, so
// setting up 3 and 4 in the child never overwrites one of them.
int moveHigh(int fd) {
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

// Starts argv[0] with the pipe ends as its descriptors 3 and 4 and its
// standard streams on /dev/null, in a process group of its own (so stopping
// it reaches every process it starts) and with signals as a fresh program
// expects them. It is killed when the calling thread (the program's main
// thread) ends, also by kill -9, so no browser ever outlives the program.
pid_t spawnInOwnGroup(char* const argv[], char* const envp[], int toChild, int fromChild) {
    // The child reports a failed exec through this pipe; it closes unread
    // when the exec succeeds.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    report[0] = moveHigh(report[0]);
    report[1] = moveHigh(report[1]);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child: only calls that are safe after fork in a threaded program.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127); // the program ended before the line above
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd)
            ::dup2(null, fd);
        ::dup2(toChild, 3);
        ::dup2(fromChild, 4);
        ::close_range(5, unsigned(report[1]) - 1, 0);
        ::close_range(unsigned(report[1]) + 1, ~0U, 0);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
            ::sigaction(signalNumber, &byDefault, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv, envp);
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return -1;
    }
    ::setpgid(pid, pid); // also here, so the group exists when this returns
    int error = 0;
    ssize_t got;
    do
        got = ::read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == ssize_t(sizeof error)) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return pid;
}

// The browser's crash handler runs outside its process group and may outlive
// it, writing into the profile's crash folder: it ends before the folder goes,
// so the folder is not made again after its removal.
void endCrashHandlersOf(const QString& profile) {
    const QByteArray wanted = "--database=" + QFile::encodeName(profile) + '/';
    QList<pid_t> ended;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!isPid || QFileInfo(cmdline.fileName()).ownerId() != ::geteuid() ||
            !cmdline.open(QIODevice::ReadOnly))
            continue;
        if (('\0' + cmdline.readAll()).contains('\0' + wanted) && ::kill(pid, SIGKILL) == 0)
            ended << pid;
    }
    const QDeadlineTimer deadline(2000);
    for (const pid_t pid : ended)
        while (::kill(pid, 0) == 0 && !deadline.hasExpired()) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                break;
            const QByteArray text = stat.readAll();
            if (text.mid(text.lastIndexOf(')') + 2, 1) == "Z")
                break; // ended; its parent has not collected it yet
            QThread::msleep(10);
        }
}

void writeProfilePreferences(const QString& profile) {
    QDir(profile).mkpath(QStringLiteral("Default"));
    QFile preferences(profile + QStringLiteral("/Default/Preferences"));
    if (preferences.open(QIODevice::WriteOnly))
        preferences.write(R"({"net":{"network_prediction_options":2}})");
}

void removeProfile(BrowserProcess& browser) {
    if (!browser.profileDir.isEmpty()) {
        endCrashHandlersOf(browser.profileDir);
        QDir(browser.profileDir).removeRecursively();
        browser.profileDir.clear();
    }
    closeFd(browser.profileLock);
}

} // namespace

QString findInstalledBrowser() {
    const QFileInfo installed(QStringLiteral("/usr/bin/chromium"));
    if (installed.isFile() && installed.isExecutable())
        return installed.filePath();
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty())
            return found;
    }
    return {};
}

std::optional<BrowserProcess> launchBrowser(const QString& program, int sharedRenderers,
                                            const QString& trustDatabase) {
    if (program.isEmpty())
        return std::nullopt;
    BrowserProcess browser;

    QByteArray profileTemplate =
        QFile::encodeName(QDir::tempPath()) + '/' + kProfilePrefix + "XXXXXX";
    if (!::mkdtemp(profileTemplate.data()))
        return std::nullopt;
    browser.profileDir = QString::fromLocal8Bit(profileTemplate);
    // Held while the folder is in use; a folder whose lock nobody holds is
    // left over from a copy of the program that has ended.
    const QByteArray ownerPath = profileTemplate + '/' + kOwnerFile;
    browser.profileLock = ::open(ownerPath.constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (browser.profileLock >= 0)
        ::flock(browser.profileLock, LOCK_EX);
    // No connections opened ahead of need: every connection the browser
    // makes carries a request the page asked for.
    writeProfilePreferences(browser.profileDir);
    // The browser's crash handler keeps its reports in the profile too,
    // never in the user's own browser folders.
    QList<QByteArray> ownVariables{"BREAKPAD_DUMP_LOCATION=" + profileTemplate + "/Crash Reports"};
    // The browser reads its certificate database from $HOME/.pki/nssdb: a
    // home folder of its own in the profile holds the trusted database, and
    // the user's own folders stay where they are for everything else (fonts).
    const QString ownHome = browser.profileDir + QStringLiteral("/home");
    if (!trustDatabase.isEmpty() && InstallTrustDatabase(trustDatabase, ownHome)) {
        const QString userHome = QDir::homePath();
        const std::pair<const char*, const char*> userFolders[] = {
            {"XDG_CONFIG_HOME", "/.config"},
            {"XDG_DATA_HOME", "/.local/share"},
            {"XDG_CACHE_HOME", "/.cache"}};
        for (const auto& [name, underHome] : userFolders)
            if (qEnvironmentVariableIsEmpty(name))
                ownVariables << QByteArray(name) + '=' + QFile::encodeName(userHome) + underHome;
        ownVariables << "HOME=" + QFile::encodeName(ownHome);
    }
    auto isOwn = [&ownVariables](const char* variable) {
        for (const QByteArray& own : ownVariables)
            if (std::strncmp(variable, own.constData(), size_t(own.indexOf('=') + 1)) == 0)
                return true;
        return false;
    };
    std::vector<char*> childEnvironment;
    for (char** variable = environ; *variable; ++variable)
        if (!isOwn(*variable))
            childEnvironment.push_back(*variable);
    for (QByteArray& own : ownVariables)
        childEnvironment.push_back(own.data());
    childEnvironment.push_back(nullptr);

    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        removeProfile(browser);
        return std::nullopt;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        removeProfile(browser);
        return std::nullopt;
    }
    for (int* fd : {&toChild[0], &toChild[1], &fromChild[0], &fromChild[1]})
        *fd = moveHigh(*fd);

    QList<QByteArray> args{program.toLocal8Bit(), "--headless", "--disable-gpu",
                           "--disable-background-networking", "--disable-component-update",
                           "--disable-sync", "--no-first-run", "--mute-audio", "--hide-scrollbars",
                           // A kept tab goes from page to page: the pages it
                           // left need not stay in memory.
                           "--disable-back-forward-cache", "--window-size=1024,768",
                           "--user-data-dir=" + profileTemplate, "--remote-debugging-pipe"};
    if (sharedRenderers > 0)
        args << "--disable-site-isolation-trials"
             << "--disable-features=IsolateOrigins,site-per-process"
             << "--renderer-process-limit=" + QByteArray::number(sharedRenderers);
    if (::geteuid() == 0)
        args << "--no-sandbox"; // the sandbox refuses to run as root
    args << "about:blank";
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t pid =
        spawnInOwnGroup(argv.data(), childEnvironment.data(), toChild[0], fromChild[1]);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (pid <= 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        removeProfile(browser);
        return std::nullopt;
    }
    browser.pid = pid;
    browser.toBrowser = toChild[1];
    browser.fromBrowser = fromChild[0];
    for (int fd : {browser.toBrowser, browser.fromBrowser})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return browser;
}

bool browserStillRuns(BrowserProcess& browser) {
    if (browser.pid <= 0 || browser.reaped)
        return false;
    int status = 0;
    const pid_t rc = ::waitpid(browser.pid, &status, WNOHANG);
    if (rc == 0)
        return true;
    browser.reaped = true;
    return false;
}

void askBrowserToEnd(const BrowserProcess& browser) {
    if (browser.pid > 0 && !browser.reaped)
        ::kill(-browser.pid, SIGTERM);
}

void endBrowser(BrowserProcess& browser) {
    if (browser.pid > 0) {
        // The whole group: the browser's own helper processes go with it.
        ::kill(-browser.pid, SIGTERM);
        const QDeadlineTimer grace(3000);
        while (!browser.reaped) {
            int status = 0;
            const pid_t rc = ::waitpid(browser.pid, &status, WNOHANG);
            if (rc == browser.pid || (rc < 0 && errno == ECHILD)) {
                browser.reaped = true;
                break;
            }
            if (grace.hasExpired()) {
                ::kill(-browser.pid, SIGKILL);
                ::waitpid(browser.pid, &status, 0);
                browser.reaped = true;
                break;
            }
            QThread::msleep(10);
        }
        ::kill(-browser.pid, SIGKILL); // helpers that outlived the browser itself
        browser.pid = 0;
    }
    closeFd(browser.toBrowser);
    closeFd(browser.fromBrowser);
    removeProfile(browser);
}

void removeStaleBrowserProfiles() {
    const QDir temp(QDir::tempPath());
    const QStringList names = temp.entryList({QLatin1String(kProfilePrefix) + '*'},
                                             QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : names) {
        const QString folder = temp.filePath(name);
        const QFileInfo info(folder);
        if (info.isSymLink() || info.ownerId() != ::geteuid())
            continue;
        const QByteArray ownerPath = QFile::encodeName(folder + '/' + QLatin1String(kOwnerFile));
        int lock = ::open(ownerPath.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        bool stale;
        if (lock < 0) {
            // Without its lock file the folder is either just being made or
            // was made before the lock existed: only an old one is stale.
            stale = info.lastModified().secsTo(QDateTime::currentDateTime()) > kProfileGraceSeconds;
        } else {
            // Held until the folder is gone, so no other starting copy works
            // on the same folder at the same time.
            stale = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
        }
        if (stale) {
            endCrashHandlersOf(folder);
            QDir(folder).removeRecursively();
        }
        closeFd(lock);
    }
}

} // namespace catalogue
