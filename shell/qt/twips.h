// Screen geometry as the screens were designed: in twips, 15 to a pixel. Form heights include the
// caption bar and borders; Qt sizes a dialog by its client area, so the frame is taken off.
#pragma once

#include <QRect>

namespace tallyvet::qt {

inline constexpr int kTwipsPerPixel = 15;
// Caption bar and borders of a designed form: its Height less its client height.
inline constexpr int kFormFrameTwips = 360;

// Twips to pixels, rounded to the nearest pixel.
constexpr int Px(int twips) {
  return (twips >= 0 ? twips + kTwipsPerPixel / 2 : twips - kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// A control's designed left, top, width and height, in pixels.
inline QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

// The client height, in pixels, of a form whose Height (frame included) is `formHeight` twips.
constexpr int ClientHeightPx(int formHeight) {
  return Px(formHeight - kFormFrameTwips);
}

}  // namespace tallyvet::qt
