#include "app/qt/waits_box.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace quorvik {

CWaitsBox::CWaitsBox(QWidget* parent, bool withSettle) : QWidget(parent) {
  m_fixed = new QCheckBox(QStringLiteral("Fi&xed waits"), this);
  m_fixed->setToolTip(
      withSettle
          ? QStringLiteral("Pause 6 s after the restart request and 3 s after the run request, as "
                           "the one-device update does, instead of going on when the device "
                           "answers")
          : QStringLiteral("Pause 3 s after the run request, as the one-device update does, "
                           "instead of going on when the device answers"));
  m_fixed->setAccessibleDescription(m_fixed->toolTip());
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_fixed);
  connect(m_fixed, &QCheckBox::toggled, this, &CWaitsBox::changed);
  if (!withSettle) return;
  auto* settleLabel = new QLabel(QStringLiteral("Settl&e (ms):"), this);
  m_settle = new QSpinBox(this);
  m_settle->setRange(0, static_cast<int>(kMaxSettle.count()));
  m_settle->setSingleStep(50);
  m_settle->setValue(static_cast<int>(kDefaultSettle.count()));
  m_settle->setAccessibleName(QStringLiteral("Settle (ms)"));
  m_settle->setToolTip(
      QStringLiteral("Between a restarted loader's first answer and its first block: some "
                     "loaders answer before they can take a block"));
  settleLabel->setBuddy(m_settle);
  layout->addWidget(settleLabel);
  layout->addWidget(m_settle);
  connect(m_settle, &QSpinBox::valueChanged, this, &CWaitsBox::changed);
}

Waits CWaitsBox::Chosen() const {
  return Waits{!m_fixed->isChecked(),
               m_settle ? std::chrono::milliseconds(m_settle->value()) : kDefaultSettle};
}

void CWaitsBox::Set(const Waits& waits) {
  m_fixed->setChecked(!waits.ready);
  if (m_settle) m_settle->setValue(static_cast<int>(waits.settle.count()));
}

}  // namespace quorvik
