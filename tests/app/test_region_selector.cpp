// links: tavrec_app tavrec_support_QtApp tavrec_support_MediaProbe
// Choosing a free rectangle of the screen, driven with real pointer and key input
// (xdotool) on the session's display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/RegionSelector.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/QtApp.h"

namespace {

using namespace std::chrono_literals;

QApplication& App() { return testkit::QtApp("test_region_selector"); }

void Xdotool(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    testkit::RunCapture(argv);
}

// Runs Select while `input` drives it from another thread once the selector is up.
bool SelectWith(const CaptureRegion& offered, CaptureRegion* chosen, std::function<void()> input)
{
    App();
    std::thread driver([input] {
        std::this_thread::sleep_for(700ms);  // the screenshot is taken and the grabs are in place
        input();
    });
    const bool result = RegionSelector::Select(offered, chosen);
    driver.join();
    return result;
}

TEST(RegionSelector, ADragChoosesExactlyTheRectangleBetweenPressAndRelease)
{
    CaptureRegion chosen;
    ASSERT_TRUE(SelectWith(CaptureRegion{}, &chosen, [] {
        Xdotool({"mousemove", "200", "150"});
        Xdotool({"mousedown", "1"});
        Xdotool({"mousemove", "300", "200"});
        Xdotool({"mousemove", "459", "269"});
        Xdotool({"mouseup", "1"});
    }));
    EXPECT_EQ(chosen.Left, 200);
    EXPECT_EQ(chosen.Top, 150);
    EXPECT_EQ(chosen.Width, 260);
    EXPECT_EQ(chosen.Height, 120);
    // Dragged up and to the left: the same rectangle.
    ASSERT_TRUE(SelectWith(CaptureRegion{}, &chosen, [] {
        Xdotool({"mousemove", "459", "269"});
        Xdotool({"mousedown", "1"});
        Xdotool({"mousemove", "300", "200"});
        Xdotool({"mousemove", "200", "150"});
        Xdotool({"mouseup", "1"});
    }));
    EXPECT_EQ(chosen.Left, 200);
    EXPECT_EQ(chosen.Width, 260);
}

TEST(RegionSelector, AClickOrEnterTakesTheOfferedRectangleClippedToTheScreen)
{
    const CaptureRegion offered{100, 80, 320, 200};
    CaptureRegion chosen;
    ASSERT_TRUE(SelectWith(offered, &chosen, [] { Xdotool({"mousemove", "700", "500", "click", "1"}); }));
    EXPECT_EQ(chosen.Left, 100);
    EXPECT_EQ(chosen.Top, 80);
    EXPECT_EQ(chosen.Width, 320);
    EXPECT_EQ(chosen.Height, 200);

    chosen = CaptureRegion{};
    ASSERT_TRUE(SelectWith(offered, &chosen, [] { Xdotool({"key", "Return"}); }));
    EXPECT_EQ(chosen.Width, 320);

    // Remembered from a larger screen: what of it lies on this one.
    const QRect screen = App().primaryScreen()->virtualGeometry();
    const CaptureRegion beyond{screen.width() - 50, 10, 200, 40};
    ASSERT_TRUE(SelectWith(beyond, &chosen, [] { Xdotool({"key", "Return"}); }));
    EXPECT_EQ(chosen.Left, screen.width() - 50);
    EXPECT_EQ(chosen.Width, 50);
    EXPECT_EQ(chosen.Height, 40);
}

TEST(RegionSelector, EscapeOrARightClickCancelsEvenMidDrag)
{
    const CaptureRegion offered{100, 80, 320, 200};
    CaptureRegion chosen{1, 2, 3, 4};
    EXPECT_FALSE(SelectWith(offered, &chosen, [] { Xdotool({"key", "Escape"}); }));
    EXPECT_FALSE(SelectWith(offered, &chosen, [] {
        Xdotool({"mousemove", "200", "150"});
        Xdotool({"mousedown", "1"});
        Xdotool({"mousemove", "400", "300"});
        Xdotool({"click", "3"});
        Xdotool({"mouseup", "1"});
    }));
    EXPECT_EQ(chosen.Left, 1) << "a cancelled choice leaves the result alone";
    // Without an offer a click without a drag takes nothing; Escape still ends it.
    EXPECT_FALSE(SelectWith(CaptureRegion{}, &chosen, [] {
        Xdotool({"mousemove", "300", "300", "click", "1"});
        std::this_thread::sleep_for(300ms);
        Xdotool({"key", "Escape"});
    }));
}

}  // namespace
