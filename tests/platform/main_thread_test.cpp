// Calls from worker threads that must run on the main thread.
#include "platform/main_thread.h"
#include "platform/message_service.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Runs work on a new thread while the main thread handles events; false when
// the thread has not ended within the limit (a deadlock).
bool runOnWorkerWithEventLoop(const std::function<void()>& work) {
    QThread* thread = QThread::create(work);
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    const bool ended = thread->isFinished();
    if (!ended)
        thread->wait(); // let the test fail rather than leave a thread running
    delete thread;
    return ended;
}

TEST(MainThread, RunsAtOnceOnTheMainThreadAndWaitsFromAWorker) {
    EXPECT_TRUE(platform::isMainThread());
    int calls = 0;
    platform::runOnMainThread([&calls] { ++calls; });
    EXPECT_EQ(calls, 1);

    QThread* ranOn = nullptr;
    bool doneBeforeReturn = false;
    bool workerSawMainThread = true;
    ASSERT_TRUE(runOnWorkerWithEventLoop([&] {
        workerSawMainThread = platform::isMainThread();
        bool done = false;
        platform::runOnMainThread([&] {
            ranOn = QThread::currentThread();
            done = true;
        });
        doneBeforeReturn = done;
    }));
    EXPECT_FALSE(workerSawMainThread);
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
    EXPECT_TRUE(doneBeforeReturn);
}

TEST(MainThread, MessageFromAWorkerArrivesOnceOnTheMainThread) {
    // A recorder appends to plain lists: a box shown from a worker must not
    // touch them off the main thread.
    struct ThreadNotingRecorder : platform::ScopedMessageRecorder {
        void show(const QString& text, const QString& caption,
                  platform::MessageKind kind) override {
            shownOn << QThread::currentThread();
            ScopedMessageRecorder::show(text, caption, kind);
        }
        QList<QThread*> shownOn;
    } recorder;
    ASSERT_TRUE(runOnWorkerWithEventLoop(
        [] { platform::showMessage(QStringLiteral("from the worker"), QStringLiteral("Cap")); }));
    ASSERT_EQ(recorder.texts, QStringList{QStringLiteral("from the worker")});
    EXPECT_EQ(recorder.captions, QStringList{QStringLiteral("Cap")});
    ASSERT_EQ(recorder.shownOn.size(), 1);
    EXPECT_EQ(recorder.shownOn.first(), QCoreApplication::instance()->thread());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
