#pragma once
// The window was drawn in dialog units of an 8-point font: a horizontal unit
// is a quarter of the font's average character width, a vertical one an
// eighth of its height. Converting them with the font actually in use keeps
// the proportions and lets the window grow with the desktop's font.

#include <QFont>
#include <QFontMetricsF>
#include <QRect>
#include <QString>
#include <algorithm>
#include <cmath>

namespace quorvik {

class CDialogUnits {
 public:
  // The original font's units on a 96 dpi screen; also the floor, so that
  // the list's pixel column widths always fit.
  static constexpr double kReferenceBaseX = 6.0;
  static constexpr double kReferenceBaseY = 13.0;

  CDialogUnits(double baseX, double baseY)
      : m_baseX(std::max(baseX, kReferenceBaseX)), m_baseY(std::max(baseY, kReferenceBaseY)) {}

  // Measured for `device`: a font made before the program knew its screen
  // (on Wayland the screens arrive after the application starts) is sized
  // for a guessed resolution, and the window would be drawn too large.
  static CDialogUnits ForFont(const QFont& font, const QPaintDevice* device) {
    const QFontMetricsF metrics(font, device);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {std::round(metrics.horizontalAdvance(letters) / letters.size()),
            std::round(metrics.height())};
  }

  int X(int units) const { return static_cast<int>(std::lround(units * m_baseX / 4)); }
  int Y(int units) const { return static_cast<int>(std::lround(units * m_baseY / 8)); }
  // Edges are converted, not sizes, so that neighbouring controls never
  // overlap or part through rounding.
  QRect Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(x + width) - X(x), Y(y + height) - Y(y));
  }
  // A width given in pixels of the original font (the list's columns).
  int ScalePixels(int pixels) const {
    return static_cast<int>(std::lround(pixels * m_baseX / kReferenceBaseX));
  }

 private:
  double m_baseX;
  double m_baseY;
};

}  // namespace quorvik
