#pragma once
// Window geometry is stored in twips, 1440 to the inch: 15 to a pixel on a 96 dpi screen,
// fewer on a denser one, so a stored size keeps its physical size across screens.

#include <string_view>

namespace tallix::manager {

inline constexpr double kTwipsPerInch = 1440.0;

int TwipsToPixels(int twips, double dpi);
int PixelsToTwips(int pixels, double dpi);
// The fewest pixels that cover `twips` (for smallest sizes).
int TwipsToPixelsAtLeast(int twips, double dpi);
// The stored number of twips: the numeric value of the text, or `fallback` when the text
// is blank.
int StoredTwips(std::string_view valueName, int fallback);

// One axis of a window placed within one axis of the screen's free area: a window longer than
// the area is shortened to it, then moved so that it lies wholly inside. A stored size made at a
// smaller font or on a larger screen would otherwise open with its title bar or its buttons out
// of reach.
struct Span {
    int start = 0;
    int length = 0;
};
Span FitSpan(Span window, Span area);

}  // namespace tallix::manager
