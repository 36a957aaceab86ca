// Times RefreshRun::Button2Click over a generated Favorites tree. Reports
// the wall time of a whole run and the counter "ms_per_favourite" (the
// number is milliseconds per favourite; the library prints it with a rate
// suffix). Each sort mode runs with the trace saved as files.log after every
// favourite, as the program does, and with the trace kept in memory only, to
// show what the trace file costs.
#include "catalogue/refresh_run.h"
#include "platform/message_service.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr int Folders = 100;
constexpr int PerFolder = 50;

// A host that shows nothing.
class QuietHost : public catalogue::RefreshHost {
public:
    void setStatusText(const QString&) override {}
    void setProgressRange(int) override {}
    void setProgressPosition(int) override {}
    catalogue::RunLight statusLight() const override { return light_; }
    void setStatusLight(catalogue::RunLight light) override { light_ = light; }
    void setTrayAnimated(bool) override {}
    void setRefreshControlsEnabled(bool) override {}
    void showStatus() override {}
    void WriteSupportPages(const QByteArray&) override {}
    void WriteCataloguePages(const QByteArray& text) override { catalogueSize = text.size(); }
    void runHistoryAnalysis() override {}
    qsizetype catalogueSize = 0;

private:
    catalogue::RunLight light_ = catalogue::RunLight::Idle;
};

void makeFavourites(const QString& favorites) {
    const QByteArray body = "[InternetShortcut]\r\nURL=http://127.0.0.1:9/\r\n";
    for (int folder = 0; folder < Folders; ++folder) {
        const QString dir = favorites + QString("/Folder %1").arg(folder, 3, 10, QChar('0'));
        QDir().mkpath(dir);
        for (int item = 0; item < PerFolder; ++item) {
            QFile file(dir + QString("/Site number %1.url").arg(item));
            if (!file.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(file.fileName()));
            file.write(body);
        }
    }
}

void BM_RefreshRun(benchmark::State& state) {
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/.config"));
    makeFavourites(home.path() + "/Favorites");

    platform::ScopedMessageRecorder messages;
    platform::SettingsModel settings;
    settings.history = false;
    settings.sortBy = static_cast<int>(state.range(0));
    QuietHost host;
    const bool traceFile = state.range(1) != 0;
    catalogue::RefreshRun run(host, settings,
                              traceFile ? home.path() + "/.config/pagorama/files.log" : QString());
    state.SetLabel(traceFile ? "trace file" : "trace in memory");
    for (auto _ : state)
        run.Button2Click();

    const int favourites = Folders * PerFolder;
    if (run.sitesTotal() != favourites || host.catalogueSize == 0)
        state.SkipWithError("the run did not take every favourite");
    state.counters["ms_per_favourite"] = benchmark::Counter(
        double(favourites) / 1000.0,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * favourites);
}

} // namespace

// Sort by name (0) and by file date (2), each with and without the trace file.
BENCHMARK(BM_RefreshRun)
    ->ArgsProduct({{0, 2}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
