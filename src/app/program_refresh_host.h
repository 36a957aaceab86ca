#pragma once
// The refresh run's host in the running program: the window's indicators
// (WindowRefreshHost) plus the page writer for the pages of each run.
#include "app/window_refresh_host.h"

namespace app {

class ProgramRefreshHost : public WindowRefreshHost {
public:
    using WindowRefreshHost::WindowRefreshHost;

    void WriteSupportPages(const QByteArray& catalogueText) override;
    void WriteCataloguePages(const QByteArray& catalogueText) override;
    // The browsing history analysis is not part of this program yet: a run
    // with "Analyser History" ticked skips it.
    void runHistoryAnalysis() override {}
};

} // namespace app
