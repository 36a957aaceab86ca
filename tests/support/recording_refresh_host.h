#pragma once
// A refresh host that records what a run or an analysis shows and writes,
// for tests of the catalogue's and the history's runs without a program.
#include "catalogue/refresh_host.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <stdexcept>

namespace testsupport {

class RecordingRefreshHost : public catalogue::RefreshHost {
public:
    using RunLight = catalogue::RunLight;

    void setStatusText(const QString& text) override {
        statusTexts << text;
        if (onStatus)
            onStatus(text);
    }
    void setProgressRange(int maximum) override { progressMaximum = maximum; }
    void setProgressPosition(int position) override { progressPosition = position; }
    RunLight statusLight() const override { return light; }
    void setStatusLight(RunLight newLight) override {
        light = newLight;
        lights << newLight;
    }
    void setTrayAnimated(bool animated) override { trayStates << animated; }
    void setRefreshControlsEnabled(bool enabled) override { controlStates << enabled; }
    void showStatus() override { ++showStatusCalls; }
    // failPages: the support pages cannot be written.
    void WriteSupportPages(const QByteArray& text) override {
        if (failPages)
            throw std::runtime_error("page write failed");
        supportPagesText = text;
    }
    void WriteCataloguePages(const QByteArray& text) override { cataloguePagesText = text; }
    void runHistoryAnalysis() override { ++historyRuns; }
    void clearWorkLists() override { ++clearCalls; }
    void rememberCursor() override { ++cursorsRemembered; }
    void restoreCursor() override { ++cursorsRestored; }

    QStringList statusTexts;
    std::function<void(const QString&)> onStatus;
    int progressMaximum = -1, progressPosition = -1;
    RunLight light = RunLight::Idle;
    QList<RunLight> lights;
    QList<bool> trayStates, controlStates;
    int showStatusCalls = 0, historyRuns = 0, clearCalls = 0;
    int cursorsRemembered = 0, cursorsRestored = 0;
    bool failPages = false;
    QByteArray supportPagesText = "unset", cataloguePagesText = "unset";
};

} // namespace testsupport
