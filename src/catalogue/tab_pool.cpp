#include "catalogue/tab_pool.h"

#include "catalogue/browser_tab.h"
#include "catalogue/devtools_connection.h"

#include <QDeadlineTimer>
#include <QJsonArray>

#include <algorithm>

namespace catalogue {

namespace {
// A page loads in well under this; one that takes longer is not waited for.
constexpr int kLongestDrainMs = 3000;
} // namespace

struct TabPool::Context {
    QString id;       // empty: the browser's own context, never disposed of
    int captures = 0; // begun in it
    int inUse = 0;    // its tabs taken and neither given back nor closed
    std::vector<std::unique_ptr<BrowserTab>> idle;
};

TabPool::TabPool(std::shared_ptr<DevToolsConnection> connection, int capturesPerContext)
    : connection_(std::move(connection)), capturesPerContext_(std::max(0, capturesPerContext)) {
    if (capturesPerContext_ == 0)
        current_ = std::make_shared<Context>();
}

TabPool::~TabPool() = default;

std::unique_ptr<BrowserTab> TabPool::take(int commandMs) {
    std::unique_ptr<BrowserTab> tab;
    std::shared_ptr<Context> ended;
    {
        QMutexLocker lock(&mutex_);
        ended = retireIfDue();
        if (current_ && !current_->idle.empty()) {
            tab = std::move(current_->idle.back());
            current_->idle.pop_back();
            ++current_->captures;
            ++current_->inUse;
        }
    }
    if (ended)
        dispose(ended, commandMs);
    if (tab)
        return tab;
    const std::shared_ptr<Context> context = currentContext(commandMs);
    if (!context)
        return nullptr;
    tab = BrowserTab::open(connection_, commandMs, context->id);
    if (tab)
        return tab;
    {
        QMutexLocker lock(&mutex_);
        ended = release(context);
    }
    if (ended)
        dispose(ended, commandMs);
    return nullptr;
}

void TabPool::giveBack(std::unique_ptr<BrowserTab> tab, int commandMs) {
    std::shared_ptr<Context> ended;
    {
        QMutexLocker lock(&mutex_);
        const std::shared_ptr<Context> context = contextOf(tab->contextId());
        if (!context)
            return;
        // A tab of a retired context stays open until the context goes.
        context->idle.push_back(std::move(tab));
        ended = release(context);
    }
    if (ended)
        dispose(ended, commandMs);
}

bool TabPool::close(std::unique_ptr<BrowserTab> tab, int commandMs) {
    const QString contextId = tab->contextId();
    const bool closed = tab->close(commandMs);
    tab.reset();
    std::shared_ptr<Context> ended;
    {
        QMutexLocker lock(&mutex_);
        if (const std::shared_ptr<Context> context = contextOf(contextId))
            ended = release(context);
    }
    if (ended)
        dispose(ended, commandMs);
    return closed;
}

std::shared_ptr<TabPool::Context> TabPool::contextOf(const QString& contextId) const {
    if (current_ && current_->id == contextId)
        return current_;
    for (const std::shared_ptr<Context>& old : retired_)
        if (old->id == contextId)
            return old;
    return nullptr;
}

std::shared_ptr<TabPool::Context> TabPool::currentContext(int commandMs) {
    // The captures that find no context wait for the one being made.
    QMutexLocker creating(&creating_);
    {
        QMutexLocker lock(&mutex_);
        if (current_) {
            ++current_->captures;
            ++current_->inUse;
            return current_;
        }
        // The captures still running in the retired context finish first,
        // so its processes end before new ones start and the two sets never
        // add up; a page that holds its capture long does not hold the rest.
        const QDeadlineTimer drained(qMin(commandMs, kLongestDrainMs));
        while (!retired_.empty() && drained_.wait(&mutex_, drained)) {
        }
    }
    std::shared_ptr<Context> made = createContext(commandMs);
    if (!made)
        return nullptr;
    QMutexLocker lock(&mutex_);
    current_ = made;
    ++made->captures;
    ++made->inUse;
    return made;
}

std::shared_ptr<TabPool::Context> TabPool::createContext(int commandMs) {
    const QDeadlineTimer deadline(commandMs);
    if (!startPageClosed_) {
        // The page the browser opened at its start keeps renderer processes
        // of the browser's own context running for good, beside those of
        // the contexts that draw the pages.
        startPageClosed_ = true;
        const auto targets = connection_->call("Target.getTargets", {}, {}, deadline);
        for (const QJsonValue& target :
             targets ? targets->value("targetInfos").toArray() : QJsonArray())
            if (target.toObject().value("type").toString() == QLatin1String("page"))
                connection_->send("Target.closeTarget",
                                  {{"targetId", target.toObject().value("targetId")}}, {},
                                  deadline);
    }
    const int asked = connection_->request("Target.createBrowserContext", {}, {}, deadline);
    const auto answer = asked ? connection_->waitAnswer(asked, deadline) : std::nullopt;
    if (!answer)
        return nullptr;
    auto made = std::make_shared<Context>();
    made->id = answer->value("result").toObject().value("browserContextId").toString();
    if (made->id.isEmpty()) {
        // A browser that makes no contexts: its own serves, for good.
        QMutexLocker lock(&mutex_);
        capturesPerContext_ = 0;
        return made;
    }
    // Pages are only looked at: a page that starts a download must not leave
    // files in the user's folders, in this context as in the browser's own.
    if (!connection_->call("Browser.setDownloadBehavior",
                           {{"behavior", "deny"}, {"browserContextId", made->id}}, {}, deadline)) {
        dispose(made, commandMs);
        return nullptr;
    }
    return made;
}

std::shared_ptr<TabPool::Context> TabPool::retireIfDue() {
    if (capturesPerContext_ == 0 || !current_ || current_->captures < capturesPerContext_)
        return nullptr;
    std::shared_ptr<Context> old = std::move(current_);
    current_.reset();
    if (old->inUse == 0)
        return old;
    retired_.push_back(std::move(old));
    return nullptr;
}

std::shared_ptr<TabPool::Context> TabPool::release(const std::shared_ptr<Context>& context) {
    --context->inUse;
    if (context == current_)
        return retireIfDue();
    if (context->inUse > 0)
        return nullptr;
    retired_.erase(std::remove(retired_.begin(), retired_.end(), context), retired_.end());
    drained_.wakeAll();
    return context;
}

void TabPool::dispose(const std::shared_ptr<Context>& context, int commandMs) {
    context->idle.clear();
    if (context->id.isEmpty())
        return;
    // Closes its tabs; their renderer processes end once the browser has
    // let go of them. Nothing waits for that.
    connection_->send("Target.disposeBrowserContext", {{"browserContextId", context->id}}, {},
                      QDeadlineTimer(commandMs));
}

} // namespace catalogue
