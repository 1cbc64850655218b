#include "manager/geometry.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "settings/registry.h"
#include "settings/settings_store.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix::manager {
namespace {

double UsableDpi(double dpi) {
    return dpi > 0 ? dpi : 96.0;
}

}  // namespace

int TwipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * UsableDpi(dpi) / kTwipsPerInch));
}

int TwipsToPixelsAtLeast(int twips, double dpi) {
    return static_cast<int>(std::ceil(twips * UsableDpi(dpi) / kTwipsPerInch - 1e-9));
}

int PixelsToTwips(int pixels, double dpi) {
    return static_cast<int>(std::lround(pixels * kTwipsPerInch / UsableDpi(dpi)));
}

int StoredTwips(std::string_view valueName, int fallback) {
    const std::string text = GetRegData(kSettingsSection, valueName);
    if (Trim(text).empty()) return fallback;
    // A stored value too large for a window is nonsense; the default is the safe reading.
    const double value = Val(text);
    if (!std::isfinite(value) || std::fabs(value) > 1e7) return fallback;
    return static_cast<int>(std::lround(value));
}

Span FitSpan(Span window, Span area) {
    if (area.length <= 0) return window;  // no screen known: leave the stored placement
    window.length = std::min(window.length, area.length);
    window.start = std::clamp(window.start, area.start, area.start + area.length - window.length);
    return window;
}

}  // namespace tallix::manager
