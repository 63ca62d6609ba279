// The window's remembered size and pane: what a session wrote comes back, a
// damaged file gives the defaults, and a size from a larger screen is cut to
// this one.
#include <gtest/gtest.h>

#include <string>

#include "app/window_geometry.h"

namespace {

TEST(WindowGeometry, ComesBackAsWrittenAndDamagedValuesGiveTheDefaults)
{
    WindowGeometry written{1010, 705, 433, true};
    std::string text = geometry_to_text(written);
    WindowGeometry back = geometry_from_text(text.data(), text.size());
    EXPECT_EQ(back.width, 1010);
    EXPECT_EQ(back.height, 705);
    EXPECT_EQ(back.pane, 433);
    EXPECT_TRUE(back.maximized);

    // Not a key file, cut short in the middle of a line, or a size that no
    // window has: the defaults, a size only ever taken as a whole.
    for (const std::string& damaged :
         {std::string("\xff\xfe\x00garbage", 10), std::string("[window]\nwidth=10"), std::string("[window\nwidth=800\n"),
          std::string("[window]\nwidth=800\nheight=-600\npane=300\n"),
          std::string("[window]\nwidth=abc\nheight=600\n"), std::string("[window]\nwidth=99999999999\nheight=600\n")}) {
        WindowGeometry g = geometry_from_text(damaged.data(), damaged.size());
        EXPECT_EQ(g.width, 0) << damaged;
        EXPECT_EQ(g.height, 0) << damaged;
        EXPECT_FALSE(g.maximized) << damaged;
    }
    std::string bad_pane = "[window]\nwidth=800\nheight=600\npane=-5\n";
    WindowGeometry g = geometry_from_text(bad_pane.data(), bad_pane.size());
    EXPECT_EQ(g.width, 800);
    EXPECT_EQ(g.pane, -1);
    EXPECT_EQ(geometry_from_text(nullptr, 0).width, 0);
}

TEST(WindowGeometry, ASizeFromALargerScreenIsCutToThisOneAndThePaneKeepsItsShare)
{
    // Last used on a 1920×1200 screen, now on 1024×768.
    WindowGeometry g = geometry_fit({1900, 1150, 920, false}, 1024, 768);
    EXPECT_EQ(g.width, 1024);
    EXPECT_EQ(g.height, 768);
    EXPECT_EQ(g.pane, 614);   // 920 of 1150 is 614 of 768
    // A size that fits is left alone, a pane past the window's bottom is not kept.
    g = geometry_fit({900, 650, 300, false}, 1024, 768);
    EXPECT_EQ(g.width, 900);
    EXPECT_EQ(g.height, 650);
    EXPECT_EQ(g.pane, 300);
    EXPECT_EQ(geometry_fit({900, 650, 700, false}, 1024, 768).pane, -1);
}

}  // namespace
