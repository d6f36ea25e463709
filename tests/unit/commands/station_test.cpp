// The station's rule of which units it may work on: done whatever the
// outcome, and fresh again only after two searches in a row without it.

#include "commands/station.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quorvik;

namespace {

constexpr std::array<uint8_t, 6> kPlaceholder = {0x00, 0x60, 0x35, 0, 0, 0};

// A unit in its loader (behind the placeholder address, 16 serial bytes)
// or running (its real address, the first 11 bytes).
DeviceRecord Unit(uint8_t serial, bool running) {
  DeviceRecord r;
  r.loaderType = running ? 0 : 0x0381;
  r.version = 0x0100;
  r.deviceId = running ? 0 : 0x3680;
  r.mac = running ? std::array<uint8_t, 6>{2, 0, 0, 0, 0, serial} : kPlaceholder;
  r.identityLength = running ? 11 : 16;
  for (size_t i = 0; i < r.identityLength; ++i) r.identity[i] = static_cast<uint8_t>(serial + i);
  return r;
}

TEST(StationUnits, AUnitIsFreshAgainOnlyAfterTwoSearchesWithoutIt) {
  // Per search: whether unit 0x10 is listed (and how), then what the
  // station may do with it after that search.
  enum class Listed { kNo, kLoader, kRunning };
  struct Step {
    Listed listed;
    bool goneNow;  // this search ended its stay
    bool mayWork;  // listed and not done
  };
  const std::vector<std::pair<const char*, std::vector<Step>>> kCases = {
      {"left standing, in either mode",
       {{Listed::kLoader, false, true},
        {Listed::kRunning, false, false},
        {Listed::kLoader, false, false}}},
      {"missed by one search only",
       {{Listed::kLoader, false, true},
        {Listed::kNo, false, false},
        {Listed::kRunning, false, false}}},
      {"taken away and put back",
       {{Listed::kLoader, false, true},
        {Listed::kNo, false, false},
        {Listed::kNo, true, false},
        {Listed::kNo, false, false},
        {Listed::kLoader, false, true},
        {Listed::kLoader, false, false}}},
  };
  for (const auto& [name, steps] : kCases) {
    CStationUnits units;
    const DeviceRecord other = Unit(0x40, false);
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      std::vector<DeviceRecord> listed = {other};
      if (step.listed != Listed::kNo) listed.push_back(Unit(0x10, step.listed == Listed::kRunning));
      const std::vector<StationUnit> gone = units.Searched(listed);
      EXPECT_EQ(gone.size(), step.goneNow ? 1u : 0u) << name << ", search " << i;
      CStationUnits::Unit* unit = units.Find(Unit(0x10, false));
      EXPECT_EQ(unit != nullptr && !unit->done, step.mayWork) << name << ", search " << i;
      // Whatever the outcome, the station marks it done once worked on.
      if (unit != nullptr && step.mayWork) unit->done = true;
      ASSERT_NE(units.Find(other), nullptr);
      EXPECT_EQ(units.Find(other)->unit.serial, "404142434445464748494A4B4C4D4E4F");
    }
  }
}

}  // namespace
