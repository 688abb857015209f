// The port's engine and speaker threads use std::thread, std::mutex and
// std::condition_variable; MinGW-w64's POSIX flavour has them (the win32 one has not) and
// runs them on threads of Windows' own.
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <thread>
#include <windows.h>

namespace {

TEST(Threads, ConditionVariableHandsValuesAcrossAndBack) {
    constexpr int Rounds = 100;
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<int> request;
    std::optional<int> reply;
    DWORD workerThread = 0;

    std::thread worker([&] {
        for (int round = 0; round < Rounds; ++round) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return request.has_value(); });
            reply = *request * 2 + 1;
            request.reset();
            workerThread = GetCurrentThreadId();
            changed.notify_all();
        }
    });

    // A lost wake-up leaves one side waiting for good; wine-run's time limit ends the test.
    for (int round = 0; round < Rounds; ++round) {
        std::unique_lock lock(mutex);
        request = round;
        changed.notify_all();
        changed.wait(lock, [&] { return reply.has_value(); });
        EXPECT_EQ(*reply, round * 2 + 1);
        reply.reset();
    }
    worker.join();
    EXPECT_NE(workerThread, 0u);
    EXPECT_NE(workerThread, GetCurrentThreadId());
}

} // namespace
