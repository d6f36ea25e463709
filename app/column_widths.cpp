#include "app/column_widths.h"

#include <algorithm>
#include <numeric>

namespace quorvik {

namespace {

// Takes up to `wanted` pixels from the columns other than `keep`, none below
// its need, a pixel at a time from the one with the most to spare, so that
// what is left over stays shared; returns what it took.
int TakeSpare(std::vector<int>& widths, const std::vector<int>& needs, size_t keep, int wanted) {
  int taken = 0;
  for (; taken < wanted; ++taken) {
    size_t most = widths.size();
    int mostSpare = 0;
    for (size_t i = 0; i < widths.size() && i < needs.size(); ++i)
      if (i != keep && widths[i] - needs[i] > mostSpare) {
        most = i;
        mostSpare = widths[i] - needs[i];
      }
    if (most == widths.size()) break;
    --widths[most];
  }
  return taken;
}

}  // namespace

std::vector<int> FittedColumnWidths(const std::vector<int>& drawn, int room, size_t first,
                                    const std::vector<int>& needs) {
  std::vector<int> widths = drawn;
  const long long total = std::accumulate(drawn.begin(), drawn.end(), 0LL);
  int slack = room - static_cast<int>(total);
  if (slack < 0) {
    slack += TakeSpare(widths, needs, widths.size(), -slack);
    if (slack < 0) return widths;
  }
  if (first < widths.size() && first < needs.size() && needs[first] > widths[first]) {
    int missing = needs[first] - widths[first];
    const int given = std::min(missing, slack);
    widths[first] += given;
    slack -= given;
    missing -= given;
    widths[first] += TakeSpare(widths, needs, first, missing);
  }
  if (slack <= 0 || total <= 0) return widths;
  // Shares end where the drawn widths so far end, so that rounding never
  // leaves a pixel of the room unused.
  long long drawnSoFar = 0;
  int givenSoFar = 0;
  for (size_t i = 0; i < widths.size(); ++i) {
    drawnSoFar += drawn[i];
    const int upTo = static_cast<int>(slack * drawnSoFar / total);
    widths[i] += upTo - givenSoFar;
    givenSoFar = upTo;
  }
  return widths;
}

}  // namespace quorvik
