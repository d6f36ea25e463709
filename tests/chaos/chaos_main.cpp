// Runs N complete firmware updates, each under a fault schedule drawn from
// SEED + i, and checks every one: an update reports success only when the
// device holds exactly the padded section, never starts a device after a
// failed write or verification, ends with one of its failure lines and a
// matching result and journal line, and ends within its bounded time.
//
//   make chaos SCHEDULES=10000 SEED=1
//   build/dev/tests/chaos/quorvik-chaos --schedules N --seed S [--shared-address]
//
// The last line reads "chaos: N schedules, F false successes, U
// undetectable, seed S"; the exit code is 1 when any schedule broke an
// invariant. Everything runs in this process, in virtual time: no socket is
// opened.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <map>

#include "tests/chaos/chaos_fleet.h"
#include "tests/chaos/chaos_run.h"

using namespace quorvik;

namespace {

int RunFleetSchedules(uint64_t schedules, uint64_t seed, bool verbose) {
  const auto started = std::chrono::steady_clock::now();
  uint64_t devices = 0, updated = 0, failed = 0, falseSuccesses = 0, undetectable = 0;
  uint64_t caught = 0, broken = 0;
  for (uint64_t i = 0; i < schedules; ++i) {
    const FleetChaosSchedule s = DrawFleetSchedule(seed + i);
    const FleetChaosOutcome out = RunFleetSchedule(s);
    devices += s.devices.size();
    updated += out.updated;
    failed += out.failed;
    falseSuccesses += out.falseSuccesses;
    undetectable += out.undetectable;
    caught += out.damagedCaught;
    if (!out.violations.empty()) ++broken;
    if (verbose || !out.violations.empty()) {
      std::printf("%s -> %d updated, %d failed\n", s.Describe().c_str(), out.updated, out.failed);
      for (const std::string& v : out.violations) std::printf("  VIOLATION: %s\n", v.c_str());
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const auto n = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  std::printf(
      "devices: %llu, updated %llu, failed %llu; damaged images reported as failures: %llu\n",
      n(devices), n(updated), n(failed), n(caught));
  std::printf("%llu schedule(s) broke an invariant; %.1f s\n", n(broken), seconds);
  std::printf("chaos fleet: %llu schedules, %llu false successes, %llu undetectable, seed %llu\n",
              n(schedules), n(falseSuccesses), n(undetectable), n(seed));
  return broken == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Firmware updates under randomised fault schedules, in virtual time."};
  uint64_t schedules = 1000, seed = 1;
  bool shared = false, verbose = false, fleet = false;
  app.add_option("--schedules", schedules, "how many updates")->check(CLI::PositiveNumber);
  app.add_option("--seed", seed, "the first schedule's seed; schedule i uses SEED + i");
  app.add_flag("--shared-address", shared,
               "every device answers from an address others share, as loaders without one do: "
               "acknowledgements cannot be told apart by their sender");
  app.add_flag("--fleet", fleet,
               "fleet updates of 2 to 8 devices written side by side instead, some sharing an "
               "address, acknowledgements crossing between them");
  app.add_flag("--verbose", verbose, "a line per schedule");
  CLI11_PARSE(app, argc, argv);
  if (fleet) return RunFleetSchedules(schedules, seed, verbose);

  const auto started = std::chrono::steady_clock::now();
  uint64_t falseSuccesses = 0, undetectable = 0, broken = 0, caught = 0, damaged = 0;
  uint64_t withStrays = 0, strayDamage = 0, strayDamageOwnAddress = 0, unverifiable = 0;
  std::map<std::string, uint64_t> outcomes;
  for (uint64_t i = 0; i < schedules; ++i) {
    ChaosSchedule s = DrawSchedule(seed + i);
    if (shared) s.sharedAddress = true;
    const ChaosOutcome out = RunSchedule(s);
    ++outcomes[OutcomeName(out.result.outcome)];
    falseSuccesses += out.falseSuccess;
    undetectable += out.undetectable;
    caught += out.caughtByConfirmation;
    damaged += !out.imageIntact && out.result.outcome == Outcome::kOk;
    unverifiable += !out.canVerify;
    if (!s.strayAcksAt.empty()) {
      ++withStrays;
      const bool damagedOk = !out.imageIntact && out.result.outcome == Outcome::kOk;
      strayDamage += damagedOk;
      strayDamageOwnAddress += damagedOk && !s.sharedAddress;
    }
    if (!out.violations.empty()) ++broken;
    if (verbose || !out.violations.empty()) {
      std::printf("%s -> %s \"%s\"%s\n", s.Describe().c_str(), OutcomeName(out.result.outcome),
                  out.result.reason.c_str(), out.imageIntact ? "" : " [image damaged]");
      for (const std::string& v : out.violations) std::printf("  VIOLATION: %s\n", v.c_str());
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("outcomes:");
  for (const auto& [name, count] : outcomes)
    std::printf(" %s %llu", name.c_str(), static_cast<unsigned long long>(count));
  std::printf(
      "\nschedules with stray acknowledgements: %llu, of them reported ok with a damaged "
      "image: %llu (%llu where the device has an address of its own)\n",
      static_cast<unsigned long long>(withStrays), static_cast<unsigned long long>(strayDamage),
      static_cast<unsigned long long>(strayDamageOwnAddress));
  std::printf(
      "schedules on loaders without verification: %llu; damaged images caught by the "
      "search after the run (still in the loader): %llu\n",
      static_cast<unsigned long long>(unverifiable), static_cast<unsigned long long>(caught));
  std::printf("%llu schedule(s) broke an invariant; %.1f s\n",
              static_cast<unsigned long long>(broken), seconds);
  std::printf("chaos: %llu schedules, %llu false successes, %llu undetectable, seed %llu\n",
              static_cast<unsigned long long>(schedules),
              static_cast<unsigned long long>(falseSuccesses),
              static_cast<unsigned long long>(undetectable), static_cast<unsigned long long>(seed));
  return broken == 0 ? 0 : 1;
}
