// Where the status bar's panes end, from the window's DPI and the widths of the texts they show.
#pragma once

const int kPaneCount = 3;

// A length given for 96 DPI, at `dpi` (what MulDiv(pixels, dpi, 96) gives).
int ScaleToDpi(int pixels, int dpi);

// The right edges of the three panes of a status bar `barWidth` pixels wide at `dpi`, given the width of each pane's
// text in the bar's font. The first two end at 110 and 240 pixels at 96 DPI, scaled with the DPI, or further out
// when their texts need it; when the third pane's text would be cut they give up what their own texts do not need,
// the first pane first. The third reaches the bar's right edge (-1).
void FitPaneEdges(const int textWidths[kPaneCount], int barWidth, int dpi, int edges[kPaneCount]);
