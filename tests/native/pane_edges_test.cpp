// The status panes' edges for a DPI and the widths of the texts they show.
#include <gtest/gtest.h>

#include "app/pane_edges.h"

TEST(PaneEdges, KeepTheirPlacesScaleAndGiveWayToTheThirdPanesText) {
    const struct {
        const char *what;
        int dpi, barWidth, texts[kPaneCount], edges[kPaneCount - 1];
    } kCases[] = {
        {"96 DPI, short texts: the fixed edges", 96, 439, {54, 114, 180}, {110, 240}},
        {"120 DPI: edges scaled, rounded as MulDiv does", 120, 549, {68, 143, 225}, {138, 301}},
        {"a first text wider than its pane pushes both edges out", 96, 460, {120, 114, 180}, {128, 258}},
        {"144 DPI as measured: the first pane gives the third what it lacks", 144, 628, {82, 171, 270}, {151, 346}},
        {"then the second pane, once the first has nothing to spare", 144, 628, {150, 171, 270}, {162, 346}},
        {"no room for all: the first two keep their texts' widths", 144, 628, {100, 171, 400}, {112, 295}},
    };
    for (const auto &c : kCases) {
        int edges[kPaneCount] = {};
        FitPaneEdges(c.texts, c.barWidth, c.dpi, edges);
        EXPECT_TRUE(edges[0] == c.edges[0] && edges[1] == c.edges[1] && edges[2] == -1)
            << c.what << ": " << edges[0] << ", " << edges[1] << ", " << edges[2];
    }
}
