#pragma once
// The refresh run's host in the running program: the window's indicators
// (WindowRefreshHost) plus the page writer for the pages of each run and
// the browsing history analysis that follows a run.
#include "app/window_refresh_host.h"

namespace app {

class ProgramRefreshHost : public WindowRefreshHost {
public:
    using WindowRefreshHost::WindowRefreshHost;

    // The status line names each favourite once its fetch is over; the
    // picture just made is shown beside it.
    void setStatusText(const QString& text) override;
    void WriteSupportPages(const QByteArray& catalogueText) override;
    void WriteCataloguePages(const QByteArray& catalogueText) override;
    void runHistoryAnalysis() override;
    void clearWorkLists() override;
};

} // namespace app
