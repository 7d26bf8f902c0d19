// Where the status bar's panes end, from the window's DPI and the widths of the texts they show.
#include "app/pane_edges.h"

namespace {

const int kBaseDpi = 96;
const int kBaseWidths[kPaneCount - 1] = {110, 130};
// Room beside a pane's text at 96 DPI: its sunken edges, the status bar's inset before the text, and the gap that
// the status bar leaves between two panes.
const int kTextRoom = 8;

int Larger(int a, int b) {
    return a > b ? a : b;
}

} // namespace

int ScaleToDpi(int pixels, int dpi) {
    return (pixels * dpi + kBaseDpi / 2) / kBaseDpi;
}

void FitPaneEdges(const int textWidths[kPaneCount], int barWidth, int dpi, int edges[kPaneCount]) {
    const int room = ScaleToDpi(kTextRoom, dpi);
    int widths[kPaneCount - 1];
    int lacking = textWidths[kPaneCount - 1] + room - barWidth;
    for (int pane = 0; pane < kPaneCount - 1; ++pane) {
        widths[pane] = Larger(ScaleToDpi(kBaseWidths[pane], dpi), textWidths[pane] + room);
        lacking += widths[pane];
    }
    for (int pane = 0; pane < kPaneCount - 1 && lacking > 0; ++pane) {
        const int spare = widths[pane] - textWidths[pane] - room;
        const int given = spare < lacking ? spare : lacking;
        widths[pane] -= given;
        lacking -= given;
    }
    edges[0] = widths[0];
    edges[1] = widths[0] + widths[1];
    edges[2] = -1;
}
