#include "common/sidebyside.h"

#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
