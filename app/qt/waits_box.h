#pragma once
// How an unattended run waits around each device's transfer, as the fleet,
// the station and the recover dialogs let the operator choose it: for the
// device's answers (with a settle time after its loader's first), or the
// fixed pauses of the one-device update for devices that need them.

#include <QWidget>

#include "commands/readiness.h"

class QCheckBox;
class QSpinBox;

namespace quorvik {

class CWaitsBox : public QWidget {
  Q_OBJECT
 public:
  // Without `withSettle` for devices already in their loader: no restart,
  // so nothing to settle after.
  explicit CWaitsBox(QWidget* parent = nullptr, bool withSettle = true);

  Waits Chosen() const;
  void Set(const Waits& waits);
  QCheckBox* fixedBox() const { return m_fixed; }
  // None without the settle time.
  QSpinBox* settleBox() const { return m_settle; }

 signals:
  // What Chosen() gives has changed, by the operator or by Set.
  void changed();

 private:
  QCheckBox* m_fixed = nullptr;
  QSpinBox* m_settle = nullptr;
};

}  // namespace quorvik
