#pragma once
// The firmware plan of the rig the roll-call shows. Planning reads and
// hashes every declared file, so it runs on the command thread, as the
// window's other file reads do, and once as a command ends rather than at
// each of the searches a long run makes: the window thread sets the rig,
// the command thread tells each refresh of the list and makes the plan.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "records/listed_devices.h"
#include "records/rig.h"
#include "records/rig_plan.h"

namespace quorvik {

class CRigPlanner {
 public:
  // A plan, and the rig it was made for: a panel takes only the plan of
  // the rig it shows.
  struct Planned {
    std::shared_ptr<const Rig> rig;
    std::string rigPath;
    RigPlan plan;
  };

  // The rig to plan, or none; from the window thread.
  void SetRig(std::shared_ptr<const Rig> rig, std::string path);
  // A refresh of the list; from the command thread.
  void Listed(const ListedDevices& listed);
  // The rig or the list changed since the last plan, and there is a rig
  // and a list to plan with.
  bool Stale() const;
  // The plan of the last refresh for the rig, when Stale; from the
  // command thread.
  std::shared_ptr<const Planned> PlanIfStale();

 private:
  mutable std::mutex m_mutex;
  std::shared_ptr<const Rig> m_rig;
  std::string m_rigPath;
  std::optional<ListedDevices> m_listed;
  bool m_changed = false;
};

}  // namespace quorvik
