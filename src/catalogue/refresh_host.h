#pragma once
// What the refresh run needs from outside the catalogue: the status line,
// progress bar, status light and tray of the configuration window, the
// refresh controls, page writing and the history analysis. The application
// implements it by wiring its real components; tests record the calls.
#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>

namespace catalogue {

// The run status light: lime while idle, red during a run, yellow while a
// run is being cancelled.
enum class RunLight { Idle, Running, Cancelling };

class RefreshHost {
public:
    virtual ~RefreshHost() = default;

    // Label1.
    virtual void setStatusText(const QString& text) = 0;
    // ProgressBar1: range 0..maximum, and its position.
    virtual void setProgressRange(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    // Shape1.
    virtual RunLight statusLight() const = 0;
    virtual void setStatusLight(RunLight light) = 0;
    // true: animatedtray shown and statictray hidden; false: the other way round.
    virtual void setTrayAnimated(bool animated) = 0;
    // Button2 ("Manually Refresh") and Timer1 together.
    virtual void setRefreshControlsEnabled(bool enabled) = 0;
    // ShowStatus with whichever tray icon is visible.
    virtual void showStatus() = 0;

    // The frame, header, footer and reloader pages, from the catalogue just
    // saved; then the view and edit pages from the same text. Either may
    // throw: the run then ends its build early.
    virtual void WriteSupportPages(const QByteArray& catalogueText) = 0;
    virtual void WriteCataloguePages(const QByteArray& catalogueText) = 0;
    // The browsing history analysis that follows a run when it is enabled.
    virtual void runHistoryAnalysis() = 0;

    // Empties the work lists that other components keep for a run (page
    // generation, history, the shortcut writer's scratch lines).
    virtual void clearWorkLists() {}
    // The screen cursor is remembered when a build starts and restored at its end.
    virtual void rememberCursor() {}
    virtual void restoreCursor() {}

    // Handles pending events once.
    virtual void pumpEvents() { QCoreApplication::processEvents(); }
    // Handles events until at least one has arrived, or a short while has
    // passed, so a waiting loop can test its condition again without
    // spinning and without a fixed sleep.
    virtual void waitForEvents() {
        QTimer recheck;
        recheck.setSingleShot(true);
        recheck.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
};

} // namespace catalogue
