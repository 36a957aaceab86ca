// The whole program refreshing a Favorites folder of slow servers: 500
// favourites (or the count given) spread over 127.0.0.1 .. 127.0.0.50, one
// local site answering on all of them after 300 ms with pages of a few KiB,
// a stylesheet and a picture; 5 favourites on 127.0.0.50, which accepts
// connections and never answers. The same run is made with the waits
// overlapped and one favourite at a time (PAGORAMA_ONE_AT_A_TIME=1), each in
// a fresh HOME, and the two catalogues are compared apart from their times.
// "renderers" makes the overlapped run twice instead: with the browser's
// pages sharing a few renderer processes (as the program runs) and with one
// renderer process per site (PAGORAMA_SHARED_RENDERERS=0), both without the
// silent server; the pictures of the two runs are compared pixel for pixel.
// "silent" makes the overlapped run three times: with the 5 silent
// favourites on one server, with 20 silent favourites each on a server of
// its own (127.0.0.51 .. 127.0.0.70), and with none; each run with silent
// favourites is set against its floor: the longer of the run without them
// and, over the silent servers, 6 requests x 60 s x ceil(its favourites / 2)
// (the probe's time-outs, at most two favourites of a server at once).
//
// The browser's memory is the sum of PSS (/proc/<pid>/smaps_rollup) over its
// process tree, so shared code is counted once; its CPU is the user and
// system time of every process of the tree, the ones already reaped included
// (their time is in the reaping parent's children's time).
//
// "plain" makes the overlapped run once, without silent favourites.
//
//   bench_refresh_e2e [favourites] [both|overlap|alone|renderers|silent|plain]
#include "support/free_port.h"
#include "support/loopback_site.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int Addresses = 50;
constexpr int SilentAddress = 50;
constexpr int SilentFavourites = 5;
// The variant with many silent servers: one favourite on each.
constexpr int FirstOwnSilentAddress = 51;
constexpr int OwnSilentServers = 20;
constexpr int DelayMs = 300;
constexpr double ProbeTimeoutSeconds = 60;
constexpr int RequestsToASilentServer = 6;

enum class Silent { OneServer, ServerEach, None };

struct Figures {
    double runSeconds = 0;    // from "Found N web favourites." to "All Done"
    double programCpu = 0;    // seconds of the program's own threads
    double rendererCpu = 0;   // seconds of the browser and its processes
    long programPeakKiB = 0;  // VmHWM of the program
    long rendererPeakKiB = 0; // the most PSS of the browser's processes at once
    long rendererEndKiB = 0;  // their PSS at the last look before the run ended
    int renderersStarted = 0; // renderer processes seen during the run
    QByteArray catalogue;
    QList<QByteArray> pictures; // a digest of each picture's pixels, sorted
    bool done = false;
};

QList<int> childrenOf(int pid) {
    QList<int> found;
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& word : file.readAll().split(' '))
            if (!word.trimmed().isEmpty())
                found << word.trimmed().toInt();
    for (int i = 0; i < found.size(); ++i) {
        QFile more(QStringLiteral("/proc/%1/task/%1/children").arg(found[i]));
        if (more.open(QIODevice::ReadOnly))
            for (const QByteArray& word : more.readAll().split(' '))
                if (!word.trimmed().isEmpty())
                    found << word.trimmed().toInt();
    }
    return found;
}

long statusKiB(int pid, const QByteArray& key) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').first().toLong();
    return 0;
}

long pssKiB(int pid) {
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toLong();
    return 0;
}

bool isRenderer(int pid) {
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return file.open(QIODevice::ReadOnly) && file.readAll().contains("--type=renderer");
}

// utime + stime and cutime + cstime of a process, in seconds.
std::pair<double, double> cpuOf(int pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    const QByteArray text = file.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return {0, 0}; // it ended while being read
    const double tick = double(sysconf(_SC_CLK_TCK));
    // Fields after the name start at 3 (state): utime is 14, cstime 17.
    return {(fields[11].toDouble() + fields[12].toDouble()) / tick,
            (fields[13].toDouble() + fields[14].toDouble()) / tick};
}

// The digest of each stored picture's pixels, in order, so two runs that
// numbered their pictures differently still compare.
QList<QByteArray> pictureDigests(const QString& folder) {
    QList<QByteArray> digests;
    QDirIterator it(folder, {"*.BMP", "*.bmp"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QImage picture(it.next());
        digests << QCryptographicHash::hash(
            QByteArrayView(picture.constBits(), picture.sizeInBytes()), QCryptographicHash::Sha1);
    }
    std::sort(digests.begin(), digests.end());
    return digests;
}

QByteArray withoutTimes(const QByteArray& catalogue) {
    QString text = QString::fromUtf8(catalogue);
    text.replace(QRegularExpression("Time=\"\\d+\""), "Time=\"\"");
    return text.toUtf8();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

// The address of favourite i: the silent favourites stand evenly among the
// others (for 500 on one server: numbers 50, 150, ..., 450).
int addressOf(int i, int favourites, Silent silent) {
    const int count = silent == Silent::OneServer ? SilentFavourites : OwnSilentServers;
    const int step = favourites / count;
    if (silent != Silent::None && i % step == step / 2 && i / step < count)
        return silent == Silent::OneServer ? SilentAddress : FirstOwnSilentAddress + i / step;
    return 1 + i % (Addresses - 1);
}

Figures runOnce(testsupport::LoopbackSite& site, int favourites, bool oneAtATime,
                bool rendererPerSite = false, Silent silent = Silent::OneServer) {
    QTemporaryDir home;
    const QString favorites = home.path() + "/Favorites/";
    for (int i = 0; i < favourites; ++i) {
        const int address = addressOf(i, favourites, silent);
        const QString url = site.url(address, QStringLiteral("/page/%1").arg(i));
        writeFile(favorites + QStringLiteral("Folder %1/Site %2.url")
                                  .arg(i / 25, 2, 10, QLatin1Char('0'))
                                  .arg(i, 4, 10, QLatin1Char('0')),
                  "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n");
    }
    writeFile(home.path() + "/.config/pagorama/pagorama.ini",
              "[Data]\r\nPort=" + QByteArray::number(testsupport::freePort()) +
                  "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\n");

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    if (oneAtATime)
        env.insert("PAGORAMA_ONE_AT_A_TIME", "1");
    else
        env.remove("PAGORAMA_ONE_AT_A_TIME");
    if (rendererPerSite)
        env.insert("PAGORAMA_SHARED_RENDERERS", "0");
    else
        env.remove("PAGORAMA_SHARED_RENDERERS");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(home.path());
    // PAGORAMA_BINARY may name a copy, so a long run is not disturbed by a rebuild.
    program.start(qEnvironmentVariable("PAGORAMA_BINARY", PAGORAMA_BINARY_DIR "/pagorama"), {});
    program.waitForStarted(10000);
    const int pid = int(program.processId());

    Figures figures;
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    qint64 foundAt = -1;
    QSet<int> renderers;
    // The browser tree's CPU: what the program reaped of it, and each live
    // process's own time with what it reaped.
    auto lookAtTheTree = [&] {
        double treeCpu = cpuOf(pid).second;
        long pss = 0;
        for (int child : childrenOf(pid)) {
            const auto [own, reaped] = cpuOf(child);
            treeCpu += own + reaped;
            pss += pssKiB(child);
            if (!renderers.contains(child) && isRenderer(child))
                renderers.insert(child);
        }
        figures.rendererCpu = std::max(figures.rendererCpu, treeCpu);
        figures.rendererPeakKiB = std::max(figures.rendererPeakKiB, pss);
        if (pss > 0)
            figures.rendererEndKiB = pss;
    };
    while (program.state() == QProcess::Running) {
        program.waitForReadyRead(200);
        err += program.readAllStandardError();
        if (foundAt < 0 && err.contains("web favourites."))
            foundAt = clock.elapsed();
        if (err.contains("All Done")) {
            figures.done = true;
            figures.runSeconds = (clock.elapsed() - foundAt) / 1000.0;
            // The browser is stopped after the run: give it a moment to be
            // reaped, so all of its time is counted.
            QThread::msleep(1500);
            lookAtTheTree();
            figures.programCpu = cpuOf(pid).first;
            figures.programPeakKiB = statusKiB(pid, "VmHWM");
            break;
        }
        lookAtTheTree();
    }
    figures.renderersStarted = int(renderers.size());
    program.terminate();
    program.waitForFinished(20000);
    QFile catalogue(home.path() + "/Documents/pagorama/listings.xml");
    if (catalogue.open(QIODevice::ReadOnly))
        figures.catalogue = withoutTimes(catalogue.readAll());
    figures.pictures = pictureDigests(home.path() + "/Documents/pagorama");
    // The catalogue names the home folder (UNIQUE) and each run has its own.
    figures.catalogue.replace(QFile::encodeName(home.path()).toHex().toUpper(), "HOME");
    return figures;
}

void print(const char* name, const Figures& f, int favourites) {
    std::printf("%-16s run %8.1f s  %6.0f ms/favourite  program cpu %6.1f s  browser cpu %6.1f s "
                "(%.0f ms/favourite)  program peak %4ld MiB  browser PSS peak %4ld MiB, at the end "
                "%4ld MiB  renderer processes %d%s\n",
                name, f.runSeconds, f.runSeconds * 1000.0 / favourites, f.programCpu, f.rendererCpu,
                f.rendererCpu * 1000.0 / favourites, f.programPeakKiB / 1024,
                f.rendererPeakKiB / 1024, f.rendererEndKiB / 1024, f.renderersStarted,
                f.done ? "" : "  (did not finish)");
    std::fflush(stdout);
}

} // namespace

// The time the probe's time-outs alone need: over the silent servers, six
// requests of 60 s for each pair of its favourites.
double silentFloorSeconds(int favourites, Silent silent) {
    QHash<int, int> perServer;
    for (int i = 0; i < favourites; ++i) {
        const int address = addressOf(i, favourites, silent);
        if (address >= SilentAddress)
            ++perServer[address];
    }
    int mostPairs = 0;
    for (int count : perServer)
        mostPairs = std::max(mostPairs, (count + 1) / 2);
    return RequestsToASilentServer * ProbeTimeoutSeconds * mostPairs;
}

void reportFloors(testsupport::LoopbackSite& site, int favourites) {
    const Figures none = runOnce(site, favourites, false, false, Silent::None);
    print("no silent", none, favourites);
    for (const Silent silent : {Silent::OneServer, Silent::ServerEach}) {
        const Figures run = runOnce(site, favourites, false, false, silent);
        const char* name = silent == Silent::OneServer ? "5 on 1 server" : "20 on 20 servers";
        print(name, run, favourites);
        const double floor = std::max(none.runSeconds, silentFloorSeconds(favourites, silent));
        std::printf("%-16s floor %.1f s, ratio run / floor %.3f (goal at most 1.1)\n", name, floor,
                    run.runSeconds / floor);
    }
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int favourites = argc > 1 ? std::max(OwnSilentServers * 2, atoi(argv[1])) : 500;
    const QString mode = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("both");
    QSet<int> silentAddresses{SilentAddress};
    for (int i = 0; i < OwnSilentServers; ++i)
        silentAddresses.insert(FirstOwnSilentAddress + i);
    testsupport::LoopbackSite site(
        {FirstOwnSilentAddress + OwnSilentServers - 1, DelayMs, silentAddresses});
    if (mode == "silent") {
        reportFloors(site, favourites);
        return 0;
    }
    if (mode == "plain") {
        print("no silent", runOnce(site, favourites, false, false, Silent::None), favourites);
        return 0;
    }
    std::printf("%d favourites on %d loopback servers (%d ms per answer), %d on a server that "
                "never answers\n",
                favourites, Addresses, DelayMs, mode == "renderers" ? 0 : SilentFavourites);
    Figures overlapped, alone;
    if (mode == "renderers") {
        // Without the silent server, whose waits would hide the browser's share.
        const Figures shared = runOnce(site, favourites, false, false, Silent::None);
        print("shared renderers", shared, favourites);
        const Figures perSite = runOnce(site, favourites, false, true, Silent::None);
        print("one per site", perSite, favourites);
        std::printf(
            "ratio shared / one per site: run %.3f, browser cpu %.3f, browser PSS peak %.3f\n",
            shared.runSeconds / perSite.runSeconds, shared.rendererCpu / perSite.rendererCpu,
            double(shared.rendererPeakKiB) / double(perSite.rendererPeakKiB));
        std::printf("browser PSS at the end %.3f; pictures (%lld) %s\n",
                    double(shared.rendererEndKiB) / double(perSite.rendererEndKiB),
                    static_cast<long long>(shared.pictures.size()),
                    shared.pictures == perSite.pictures && !shared.pictures.isEmpty()
                        ? "identical pixel for pixel"
                        : "DIFFERENT");
        return 0;
    }
    if (mode != "alone") {
        overlapped = runOnce(site, favourites, false);
        print("overlapped", overlapped, favourites);
    }
    if (mode != "overlap") {
        alone = runOnce(site, favourites, true);
        print("one at a time", alone, favourites);
    }
    if (mode == "both") {
        std::printf("ratio overlapped / one at a time: %.3f (goal at most 0.2)\n",
                    overlapped.runSeconds / alone.runSeconds);
        std::printf("catalogues %s apart from their times\n",
                    overlapped.catalogue == alone.catalogue && !alone.catalogue.isEmpty()
                        ? "identical"
                        : "DIFFERENT");
    }
    return 0;
}
