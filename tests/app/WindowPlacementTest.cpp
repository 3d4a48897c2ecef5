// Where the main window lands on screens of several sizes: centred where it fits, its top-left
// corner (title and menu bar) always inside the screen's available area; after a resize, moved
// only as far as its new size needs.
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

struct ResizeCase {
    const char* name;
    QRect frame;  // after the resize, at the old position
    QRect available;
    QPoint expected;
};

void PrintTo(const ResizeCase& c, std::ostream* os) {
    *os << c.name;
}

class KeptInside : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(KeptInside, MovesUpOrLeftOnlyAsFarAsNeeded) {
    const ResizeCase& c = GetParam();
    EXPECT_EQ(app::KeptInside(c.frame, c.available), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Resizes, KeptInside,
    ::testing::Values(
        // Expanded on 1024 × 768 from the centred start: the bottom would pass 768 by 46.
        ResizeCase{"ExpandOnXga", {174, 224, 677, 590}, {0, 0, 1024, 768}, {174, 178}},
        // Room enough below: nothing moves.
        ResizeCase{"ExpandOnSxga", {301, 352, 677, 590}, {0, 0, 1280, 1024}, {301, 352}},
        // Reduced again: smaller windows stay where they are.
        ResizeCase{"ReduceStays", {174, 178, 677, 380}, {0, 0, 1024, 768}, {174, 178}},
        // A bottom panel: the window's bottom meets the panel's top.
        ResizeCase{"PanelAtBottom", {174, 224, 677, 590}, {0, 0, 1024, 740}, {174, 150}},
        // Dragged past the right edge of a second screen: pulled back left, not up.
        ResizeCase{"RightEdge", {2700, 100, 677, 590}, {1920, 0, 1280, 1024}, {2523, 100}},
        // Taller than the area: its top stays at the area's top.
        ResizeCase{"Tiny", {0, 100, 677, 590}, {0, 24, 320, 240}, {0, 24}}),
    [](const ::testing::TestParamInfo<ResizeCase>& info) { return info.param.name; });

}  // namespace
