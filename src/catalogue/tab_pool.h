#pragma once
// The kept tabs of one browser whose pages share a few renderer processes.
// A shared process that has drawn page after page keeps growing (caches and
// heaps that never shrink back), so the tabs are opened in a browser context
// of their own that is replaced after a number of captures: new captures
// open tabs in a fresh context once the captures still running in the old
// one are done; that context is then disposed of, which closes its tabs and
// ends the renderer processes that drew its pages. Processes are still
// started once per many pages, not once per site.
//
// Safe from several threads at once; each tab is used by one capture at a time.
#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <memory>
#include <vector>

namespace catalogue {

class BrowserTab;
class DevToolsConnection;

class TabPool {
public:
    // With capturesPerContext 0 the tabs stay in the browser's own context
    // for its whole life.
    TabPool(std::shared_ptr<DevToolsConnection> connection, int capturesPerContext);
    ~TabPool();
    TabPool(const TabPool&) = delete;
    TabPool& operator=(const TabPool&) = delete;

    // An idle tab, else a new one; null when the browser did not open one in time.
    std::unique_ptr<BrowserTab> take(int commandMs);
    // A tab that is still usable after its capture: kept for the next one,
    // or left to close with its context when that is due.
    void giveBack(std::unique_ptr<BrowserTab> tab, int commandMs);
    // Closes a tab that is not to be used again; false when the browser did not answer.
    bool close(std::unique_ptr<BrowserTab> tab, int commandMs);

private:
    struct Context;
    std::shared_ptr<Context> currentContext(int commandMs);
    std::shared_ptr<Context> createContext(int commandMs);
    // With mutex_ held: the current context has had its captures; returns
    // it when nothing runs in it any more, to be disposed of.
    std::shared_ptr<Context> retireIfDue();
    // With mutex_ held: the current or a retired context; null when gone.
    std::shared_ptr<Context> contextOf(const QString& contextId) const;
    // With mutex_ held: a tab of the context is back or closed; returns the
    // context when it is to be disposed of now.
    std::shared_ptr<Context> release(const std::shared_ptr<Context>& context);
    void dispose(const std::shared_ptr<Context>& context, int commandMs);

    const std::shared_ptr<DevToolsConnection> connection_;
    int capturesPerContext_;       // mutex_; 0 when the browser cannot make contexts
    QMutex creating_;              // one context made at a time
    bool startPageClosed_ = false; // creating_
    QMutex mutex_;
    QWaitCondition drained_;                        // the last capture in a retired context is done
    std::shared_ptr<Context> current_;              // mutex_
    std::vector<std::shared_ptr<Context>> retired_; // mutex_: with captures still running
};

} // namespace catalogue
