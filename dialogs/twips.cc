// Twips conversions and the on-screen placement rule of the command editor.
#include "dialogs/twips.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QScreen>

namespace pullwire {
namespace {

constexpr double kDefaultDpi = 96.0;
// The gap the editor keeps from the bottom of the screen (a task bar's worth).
constexpr int kBottomGapTwips = 400;

int Scale(int value, double numerator, double denominator) {
  return static_cast<int>(std::lround(value * numerator / denominator));
}

}  // namespace

TwipsScale TwipsScale::Of(const QScreen* screen) {
  if (screen == nullptr) return TwipsScale(kDefaultDpi, kDefaultDpi);
  return TwipsScale(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
}

int TwipsScale::ToPixelsX(int twips) const { return Scale(twips, dpi_x_, kTwipsPerInch); }
int TwipsScale::ToPixelsY(int twips) const { return Scale(twips, dpi_y_, kTwipsPerInch); }
int TwipsScale::ToTwipsX(int pixels) const { return Scale(pixels, kTwipsPerInch, dpi_x_); }
int TwipsScale::ToTwipsY(int pixels) const { return Scale(pixels, kTwipsPerInch, dpi_y_); }

std::int16_t PlaceDialogTop(std::int16_t dialog_top, int dialog_height, int screen_height) {
  const int limit = screen_height - kBottomGapTwips;
  if (dialog_top + dialog_height <= limit) return dialog_top;
  const int lowered = limit - dialog_height;
  return static_cast<std::int16_t>(std::clamp<int>(lowered, std::numeric_limits<std::int16_t>::min(),
                                                   std::numeric_limits<std::int16_t>::max()));
}

}  // namespace pullwire
