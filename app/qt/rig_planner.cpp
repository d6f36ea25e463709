#include "app/qt/rig_planner.h"

namespace quorvik {

void CRigPlanner::SetRig(std::shared_ptr<const Rig> rig, std::string path) {
  std::lock_guard lock(m_mutex);
  m_rig = std::move(rig);
  m_rigPath = std::move(path);
  m_changed = true;
}

void CRigPlanner::Listed(const ListedDevices& listed) {
  std::lock_guard lock(m_mutex);
  m_listed = listed;
  m_changed = true;
}

bool CRigPlanner::Stale() const {
  std::lock_guard lock(m_mutex);
  return m_changed && m_rig && m_listed;
}

std::shared_ptr<const CRigPlanner::Planned> CRigPlanner::PlanIfStale() {
  auto planned = std::make_shared<Planned>();
  ListedDevices listed;
  {
    std::lock_guard lock(m_mutex);
    if (!m_changed || !m_rig || !m_listed) return nullptr;
    m_changed = false;
    planned->rig = m_rig;
    planned->rigPath = m_rigPath;
    listed = *m_listed;
  }
  // Outside the lock: the files are read while the window may set another
  // rig, which makes the planner stale again.
  RigPlanOptions options;
  options.rigPath = planned->rigPath;
  planned->plan = PlanRig(*planned->rig, listed.records, listed.blackList, options);
  return planned;
}

}  // namespace quorvik
