// Twips (1/1440 inch), the unit the host gives dialog positions in, and the placement rule that
// keeps the command editor on the screen.
#pragma once

#include <cstdint>

class QScreen;

namespace pullwire {

inline constexpr int kTwipsPerInch = 1440;

// Converts between twips and pixels at a logical DPI (96 DPI: 15 twips a pixel).
class TwipsScale {
 public:
  TwipsScale(double dpi_x, double dpi_y) : dpi_x_(dpi_x), dpi_y_(dpi_y) {}
  // The logical DPI of `screen`, or 96 when there is none.
  static TwipsScale Of(const QScreen* screen);

  int ToPixelsX(int twips) const;
  int ToPixelsY(int twips) const;
  int ToTwipsX(int pixels) const;
  int ToTwipsY(int pixels) const;

 private:
  double dpi_x_;
  double dpi_y_;
};

// Lowers `dialog_top` so that a dialog `dialog_height` high ends at least 400 twips above the
// bottom of a screen `screen_height` high; otherwise returns it unchanged. All in twips.
std::int16_t PlaceDialogTop(std::int16_t dialog_top, int dialog_height, int screen_height);

}  // namespace pullwire
