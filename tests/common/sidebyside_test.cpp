#include "common/sidebyside.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

TEST(RunSideBySide, BothRunOnTwoThreadsAndBothEnd) {
    std::thread::id a, b;
    std::atomic<int> done{0};
    qgrad::RunSideBySide([&] { a = std::this_thread::get_id(); ++done; },
                         [&] { b = std::this_thread::get_id(); ++done; });
    EXPECT_EQ(done, 2);
    EXPECT_NE(a, b);
    EXPECT_EQ(b, std::this_thread::get_id());
}

TEST(RunSideBySide, FailuresAreRethrownAfterBothEnded) {
    const struct {
        const char* name;
        bool otherFails, hereFails;
        const char* expected;
    } cases[] = {
        {"other fails", true, false, "other"},
        {"here fails", false, true, "here"},
        {"both fail: this thread's first", true, true, "here"},
    };
    for (const auto& c : cases) {
        std::atomic<bool> otherEnded{false};
        try {
            qgrad::RunSideBySide(
                [&] {
                    otherEnded = true;
                    if (c.otherFails) throw std::runtime_error("other");
                },
                [&] {
                    if (c.hereFails) throw std::runtime_error("here");
                });
            ADD_FAILURE() << c.name << ": nothing thrown";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.expected) << c.name;
        }
        EXPECT_TRUE(otherEnded) << c.name;
    }
}

// One piece at a time: the next begins once the one before has ended, and
// a failure comes out where the work is next waited for.
TEST(OnTheOtherCore, OnePieceAtATimeItsFailureWhereItIsWaitedFor) {
    const struct {
        const char* name;
        bool firstFails;
        bool secondStarts;  // a failure of the first comes out of the second's Start
    } cases[] = {{"both succeed", false, true}, {"the first fails", true, false}};
    for (const auto& c : cases) {
        std::atomic<int> running{0}, most{0}, done{0};
        auto piece = [&](bool fails) {
            return [&, fails] {
                most = std::max(most.load(), ++running);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                --running;
                ++done;
                if (fails) throw std::runtime_error("piece");
            };
        };
        qgrad::OnTheOtherCore other;
        other.Start(piece(c.firstFails));
        bool started = true;
        try {
            other.Start(piece(false));
            other.Finish();
        } catch (const std::runtime_error&) {
            started = false;
        }
        EXPECT_EQ(started, c.secondStarts) << c.name;
        EXPECT_EQ(done, c.secondStarts ? 2 : 1) << c.name;
        EXPECT_EQ(most, 1) << c.name;
    }
}

// Left unfinished, because this thread failed, it waits for the work.
TEST(OnTheOtherCore, GoneUnfinishedItWaitsForTheWork) {
    std::atomic<bool> ended{false};
    {
        qgrad::OnTheOtherCore other;
        other.Start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ended = true;
        });
    }
    EXPECT_TRUE(ended);
}

}  // namespace
