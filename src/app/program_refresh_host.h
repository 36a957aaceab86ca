#pragma once
// The refresh run's host in the running program: the indicators of the
// program's view, the page writer for the pages of each run and the
// browsing history analysis that follows a run.
#include "catalogue/refresh_host.h"

namespace app {

class ProgramCore;

class ProgramRefreshHost : public catalogue::RefreshHost {
public:
    explicit ProgramRefreshHost(ProgramCore& core) : core_(core) {}

    // The status line names each favourite once its fetch is over; the
    // picture just made is shown beside it.
    void setStatusText(const QString& text) override;
    void setProgressRange(int maximum) override;
    void setProgressPosition(int position) override;
    catalogue::RunLight statusLight() const override;
    void setStatusLight(catalogue::RunLight light) override;
    void setTrayAnimated(bool animated) override;
    void setRefreshControlsEnabled(bool enabled) override;
    void showStatus() override;
    void WriteSupportPages(const QByteArray& catalogueText) override;
    void WriteCataloguePages(const QByteArray& catalogueText) override;
    void runHistoryAnalysis() override;
    void clearWorkLists() override;
    void rememberCursor() override;
    void restoreCursor() override;

private:
    ProgramCore& core_;
    bool cursorOverridden_ = false;
};

} // namespace app
