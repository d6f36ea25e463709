#include "app/column_widths.h"

#include <algorithm>
#include <numeric>

std::vector<int> GrownColumnWidths(const std::vector<int>& drawn, int growth, size_t first,
                                   int needs) {
  std::vector<int> widths = drawn;
  if (growth <= 0) return widths;
  if (first < widths.size()) {
    const int given = std::clamp(needs - widths[first], 0, growth);
    widths[first] += given;
    growth -= given;
  }
  const long long total = std::accumulate(drawn.begin(), drawn.end(), 0LL);
  if (total <= 0) return widths;
  // Shares end where the drawn widths so far end, so that rounding never
  // leaves a pixel of the growth unused.
  long long drawnSoFar = 0;
  int givenSoFar = 0;
  for (size_t i = 0; i < widths.size(); ++i) {
    drawnSoFar += drawn[i];
    const int upTo = static_cast<int>(growth * drawnSoFar / total);
    widths[i] += upTo - givenSoFar;
    givenSoFar = upTo;
  }
  return widths;
}
