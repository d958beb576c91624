#include "gridviewer.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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

TEST_F(ProgressWindowTest, AFailureIsToldUnlessThePersonCancelled) {
    const struct {
        const char* name;
        bool cancelled;
        const char* failure;  // nullptr: the work ends well
        std::vector<QString> told;
    } cases[] = {
        {"a failure", false, "cannot write /data/GPS_DIFF_a.png", {"cannot write /data/GPS_DIFF_a.png"}},
        {"a failure after Cancel", true, "gridding cancelled: nothing was written", {}},
        {"work that ends well", false, nullptr, {}},
    };
    for (const auto& c : cases) {
        std::atomic<bool> cancel{false};
        std::vector<QString> told;
        const auto work = [&](const std::function<void(int, int)>&) {
            if (c.cancelled) cancel = true;
            if (c.failure) throw std::runtime_error(c.failure);
        };
        const auto run = [&] {
            RunWithProgressWindow("Kriging", cancel, work, [&](const QString& text) {
                EXPECT_EQ(ShownProgressWindow(), nullptr) << c.name << ": told under the progress window";
                told.push_back(text);
            });
        };
        if (c.failure)
            EXPECT_THROW(run(), std::runtime_error) << c.name;
        else
            EXPECT_NO_THROW(run()) << c.name;
        EXPECT_EQ(told, c.told) << c.name;
    }
}

TEST_F(ProgressWindowTest, TheHostsNoticeIsAMessageWindowWithTheFailure) {
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->informativeText();
            box->accept();
        }
    });
    ShowFailureWindow("a grid of 3 by 3 nodes is more than this host makes (4)");
    EXPECT_EQ(shown, "a grid of 3 by 3 nodes is more than this host makes (4)");
}

// A picture 300 by 150: its west half red, its east half blue.
QImage TwoHalves() {
    QImage picture(300, 150, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width() / 2; ++x) picture.setPixel(x, y, qRgb(255, 0, 0));
    return picture;
}

void Wheel(GridViewer& viewer, QPointF at, int eighthsOfDegree) {
    QWheelEvent event(at, viewer.mapToGlobal(at), QPoint(), QPoint(0, eighthsOfDegree), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&viewer, &event);
}

void Drag(GridViewer& viewer, QPoint from, QPoint to) {
    QTest::mousePress(&viewer, Qt::LeftButton, {}, from);
    QTest::mouseMove(&viewer, (from + to) / 2);
    QTest::mouseMove(&viewer, to);
    QTest::mouseRelease(&viewer, Qt::LeftButton, {}, to);
}

class GridViewerTest : public ProgressWindowTest {};

TEST_F(GridViewerTest, ToScaleGrowsZoomsPansAndResets) {
    // The window is 600 by 600: the whole picture at 2 screen pixels a pixel,
    // 150 pixels of white above and below it.
    const struct {
        const char* name;
        std::function<void(GridViewer&)> act;
        double scale;
        QPointF from, to;  // a point of the picture and where it stands in the window
    } cases[] = {
        {"shown whole", [](GridViewer&) {}, 2, {0, 0}, {0, 150}},
        {"grows with its window", [](GridViewer& v) { v.resize(900, 900); }, 3, {0, 0}, {0, 225}},
        {"narrower window, smaller picture", [](GridViewer& v) { v.resize(150, 600); }, 0.5, {150, 75}, {75, 300}},
        {"the wheel zooms about the mouse", [](GridViewer& v) { Wheel(v, {150, 300}, 4 * 120); }, 4, {75, 75},
         {150, 300}},
        {"the wheel back", [](GridViewer& v) { Wheel(v, {150, 300}, 4 * 120); Wheel(v, {150, 300}, -4 * 120); }, 2,
         {0, 0}, {0, 150}},
        {"+ zooms about the middle", [](GridViewer& v) { QTest::keyClick(&v, Qt::Key_Plus); }, 2.5, {150, 75},
         {300, 300}},
        {"+ then -", [](GridViewer& v) { QTest::keyClick(&v, Qt::Key_Plus); QTest::keyClick(&v, Qt::Key_Minus); },
         2, {0, 0}, {0, 150}},
        {"- shows no less than the whole", [](GridViewer& v) { QTest::keyClick(&v, Qt::Key_Minus); }, 2, {0, 0},
         {0, 150}},
        {"a drag pans", [](GridViewer& v) { Wheel(v, {300, 300}, 4 * 120); Drag(v, {300, 300}, {200, 250}); }, 4,
         {150, 75}, {200, 300}},
        {"a drag stops at the west edge",
         [](GridViewer& v) { Wheel(v, {300, 300}, 4 * 120); Drag(v, {100, 300}, {1100, 300}); }, 4, {0, 0},
         {0, 0}},
        {"the whole picture does not pan", [](GridViewer& v) { Drag(v, {300, 300}, {400, 400}); }, 2, {0, 0},
         {0, 150}},
        {"a double-click shows it whole again",
         [](GridViewer& v) {
             Wheel(v, {100, 100}, 8 * 120);
             Drag(v, {300, 300}, {350, 300});
             QTest::mouseDClick(&v, Qt::LeftButton, {}, {300, 300});
         },
         2, {0, 0}, {0, 150}},
    };
    for (const auto& c : cases) {
        GridViewer viewer(TwoHalves(), "GPS_DIFF_a.png");
        viewer.resize(600, 600);
        viewer.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer)) << c.name;
        c.act(viewer);
        const QTransform t = viewer.PictureToWindow();
        // One scale across and up, so a metre is as long both ways.
        EXPECT_DOUBLE_EQ(t.m11(), c.scale) << c.name;
        EXPECT_DOUBLE_EQ(t.m22(), c.scale) << c.name;
        EXPECT_EQ(t.m12(), 0) << c.name;
        EXPECT_EQ(t.m21(), 0) << c.name;
        EXPECT_NEAR(t.map(c.from).x(), c.to.x(), 1e-9) << c.name;
        EXPECT_NEAR(t.map(c.from).y(), c.to.y(), 1e-9) << c.name;

        // The pixels follow the transform: red west, blue east, white beside.
        const QImage shown = viewer.grab().toImage();
        const QRectF pictureRect = t.mapRect(QRectF(0, 0, 300, 150));
        int compared = 0;
        for (int y = 5; y < shown.height(); y += 10)
            for (int x = 5; x < shown.width(); x += 10) {
                const QPointF at = t.inverted().map(QPointF(x + 0.5, y + 0.5));
                // Pixels at a colour edge may blend.
                const QRectF edges[] = {pictureRect.adjusted(-1, -1, 1, 1), pictureRect.adjusted(1, 1, -1, -1)};
                if (edges[0].contains(x, y) != edges[1].contains(x, y) || std::abs(at.x() - 150) * c.scale < 1.5)
                    continue;
                const QRgb expected = !QRectF(0, 0, 300, 150).contains(at) ? qRgb(255, 255, 255)
                                      : at.x() < 150                         ? qRgb(255, 0, 0)
                                                                             : qRgb(0, 0, 255);
                ASSERT_EQ(shown.pixel(x, y), expected) << c.name << " at " << x << "," << y;
                ++compared;
            }
        EXPECT_GT(compared, 100) << c.name;
    }
}

}  // namespace
