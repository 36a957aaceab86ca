// Turns at the renderer: the work earliest in the run's order goes first,
// never more than the turns at once, and dropped work gives up its place.
#include "catalogue/turn_gate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using catalogue::TurnGate;

namespace {

void waitUntilWaiting(const std::function<bool()>& check) {
    for (int i = 0; i < 500 && !check(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void raiseTo(std::atomic<int>& most, int value) {
    int seen = most.load();
    while (value > seen && !most.compare_exchange_weak(seen, value)) {
    }
}

} // namespace

TEST(TurnGateTest, TurnsGoToTheEarliestWaitingWorkAndNeverExceedTheLimit) {
    TurnGate gate(1);
    const std::atomic<bool> notDropped{false};
    ASSERT_TRUE(gate.enter(0, notDropped));

    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> inside{0}, most{0}, started{0};
    std::vector<std::thread> threads;
    for (int place : {5, 2, 9, 3}) {
        threads.emplace_back([&, place] {
            ++started;
            ASSERT_TRUE(gate.enter(place, notDropped));
            raiseTo(most, ++inside);
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(place);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            --inside;
            gate.leave();
        });
    }
    waitUntilWaiting([&] { return started == 4; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // all four are waiting
    gate.leave();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(order, (std::vector<int>{2, 3, 5, 9}));
    EXPECT_EQ(most, 1);

    // Two turns: two at once, not more.
    gate.setTurns(2);
    most = 0;
    threads.clear();
    for (int place = 0; place < 6; ++place)
        threads.emplace_back([&, place] {
            gate.enter(place, notDropped);
            raiseTo(most, ++inside);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            --inside;
            gate.leave();
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(most, 2);
}

TEST(TurnGateTest, DroppedWorkLeavesItsPlaceWithoutATurn) {
    TurnGate gate(1);
    const std::atomic<bool> notDropped{false};
    ASSERT_TRUE(gate.enter(0, notDropped));
    std::atomic<bool> dropped{false};
    std::atomic<int> result{-1};
    std::thread early([&] { result = gate.enter(1, dropped) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    dropped = true;
    early.join(); // returns without anyone leaving
    EXPECT_EQ(result, 0);
    // Its place no longer holds back later work.
    gate.leave();
    EXPECT_TRUE(gate.enter(7, notDropped));
    gate.leave();
}
