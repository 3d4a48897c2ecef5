// Where the main window lands on screens of several sizes: centred where it fits, its top-left
// corner (title and menu bar) always inside the screen's available area.
#include <gtest/gtest.h>

#include <ostream>

#include "app/WindowPlacement.h"

namespace {

struct PlacementCase {
    const char* name;
    QSize window;
    QRect available;
    QPoint expected;
};

void PrintTo(const PlacementCase& c, std::ostream* os) {
    *os << c.name;
}

class WindowPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(WindowPlacement, CentresAndKeepsTheTopLeftOnScreen) {
    const PlacementCase& c = GetParam();
    EXPECT_EQ(app::CentredPlacement(c.window, c.available), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, WindowPlacement,
    ::testing::Values(
        PlacementCase{"Xga", {675, 320}, {0, 0, 1024, 768}, {174, 224}},
        // A panel at the top: centred in what is left below it.
        PlacementCase{"PanelOnTop", {675, 320}, {0, 32, 1024, 736}, {174, 240}},
        // A second screen to the right of the first.
        PlacementCase{"SecondScreen", {675, 320}, {1920, 0, 1280, 1024}, {2222, 352}},
        // Wider than the screen: the left edge stays on it, the height is still centred.
        PlacementCase{"Vga", {675, 320}, {0, 0, 640, 480}, {0, 80}},
        // 1024 × 768 at a scale factor of 2 is 512 × 384 logical pixels.
        PlacementCase{"XgaScaledTwice", {675, 320}, {0, 0, 512, 384}, {0, 32}},
        // Taller than the screen: the title and menu bar stay at its top.
        PlacementCase{"Tiny", {677, 590}, {0, 24, 320, 240}, {0, 24}}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) { return info.param.name; });

}  // namespace
