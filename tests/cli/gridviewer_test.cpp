#include "gridviewer.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <stdexcept>
#include <thread>

using namespace qgrad;

namespace {

class ProgressWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QApplication>(); }
};

QProgressDialog* ShownProgressWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible()) return p;
    return nullptr;
}

TEST_F(ProgressWindowTest, ClosingOrCancellingStopsTheWork) {
    const struct {
        const char* name;
        void (*act)(QProgressDialog&);
    } cases[] = {
        {"closing the window", [](QProgressDialog& w) { w.close(); }},
        {"its Cancel button", [](QProgressDialog& w) { w.findChild<QPushButton*>()->click(); }},
    };
    for (const auto& c : cases) {
        std::atomic<bool> cancel{false};
        bool acted = false;
        QTimer::singleShot(0, [&] {
            if (QProgressDialog* w = ShownProgressWindow()) {
                acted = true;
                c.act(*w);
            }
        });
        // Work far longer than the test, as a large grid is, that fails once cancelled.
        const auto work = [&](const std::function<void(int, int)>& progress) {
            for (int row = 0; row < 100'000 && !cancel; ++row) {
                progress(row % 100, 100);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (cancel) throw std::runtime_error("cancelled");
        };
        EXPECT_THROW(RunWithProgressWindow("Kriging", cancel, work), std::runtime_error) << c.name;
        EXPECT_TRUE(acted) << c.name;
        EXPECT_TRUE(cancel) << c.name;
        EXPECT_EQ(ShownProgressWindow(), nullptr) << c.name;
    }
}

TEST_F(ProgressWindowTest, WorkThatEndsLeavesNoWindowAndNoCancel) {
    std::atomic<bool> cancel{false};
    int reported = 0;
    RunWithProgressWindow("Kriging", cancel, [&](const std::function<void(int, int)>& progress) {
        for (int row = 1; row <= 50; ++row) progress(reported = row, 50);
    });
    EXPECT_EQ(reported, 50);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(ShownProgressWindow(), nullptr);
}

}  // namespace
