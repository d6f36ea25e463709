#include "app/qt/fleet_controller.h"

#include "app/qt/side_dialog.h"
#include "app/qt/window_commands.h"

namespace quorvik {

namespace {

// Hands each step of a run, made on the command thread or in one of the
// run's lanes, to the dialog on the window thread, in the order the steps
// were made. The run lets one lane at a time tell its steps.
class CFleetForDialog : public CObserverForDialog<CFleetDialog, IFleetObserver> {
 public:
  using CObserverForDialog::CObserverForDialog;
  void OnDeviceStarted(size_t device, int attempt) override {
    Post([=](CFleetDialog& d) { d.DeviceStarted(device, attempt); });
  }
  void OnBlocksWritten(size_t device, uint32_t done, uint32_t total) override {
    Post([=](CFleetDialog& d) { d.BlocksWritten(device, done, total); });
  }
  void OnDeviceFinished(size_t device, const CommandResult& result, bool updated) override {
    Post([=](CFleetDialog& d) { d.DeviceFinished(device, result, updated); });
  }
  void OnDeviceNotReached(size_t device, const CommandResult& result) override {
    OnDeviceFinished(device, result, false);
  }
  void OnStoppedBeforeTurn(size_t device) override {
    Post([=](CFleetDialog& d) { d.StoppedBeforeTurn(device); });
  }
};

}  // namespace

void CFleetController::OpenPlan() {
  Open([](CQuorvikDlg& logic) { return logic.PrepareFleet(); }, {});
}

void CFleetController::OpenPrepared(FleetPlan plan, QString heading) {
  auto shared = std::make_shared<const FleetPlan>(std::move(plan));
  Open(
      [shared](CQuorvikDlg&) {
        FleetPreparation prepared;
        prepared.plan = *shared;
        return std::optional(std::move(prepared));
      },
      std::move(heading));
}

void CFleetController::Open(std::function<std::optional<FleetPreparation>(CQuorvikDlg&)> prepare,
                            QString heading) {
  CQtMainView* window = &m_commands.window();
  CQuorvikDlg& logic = m_commands.logic();
  m_commands.Run(
      [this, window, &logic, prepare = std::move(prepare), heading = std::move(heading)] {
        std::optional<FleetPreparation> prepared = prepare(logic);
        if (!prepared) return;
        auto shared = std::make_shared<const FleetPreparation>(std::move(*prepared));
        // The settings file belongs to the command thread.
        const int atOnce = logic.StoredAtOnce(UnattendedRun::kFleet, kDefaultAtOnce, kMaxAtOnce);
        const Waits waits = logic.StoredWaits(UnattendedRun::kFleet);
        QMetaObject::invokeMethod(
            window,
            [this, shared, heading, atOnce, waits] { ShowPlan(*shared, heading, atOnce, waits); },
            Qt::QueuedConnection);
      },
      QGuiApplication::keyboardModifiers());
}

void CFleetController::ShowPlan(const FleetPreparation& prepared, const QString& heading,
                                int atOnce, const Waits& waits) {
  if (m_commands.closed()) return;
  CQtMainView& window = m_commands.window();
  // Beside the window: the list and the log show what each update does.
  SideDialogSteps<CFleetDialog> steps;
  steps.made = [this, &window, atOnce, waits](CFleetDialog& dialog) {
    // A dialog already open keeps what the operator set in it.
    dialog.SetAtOnce(atOnce);
    dialog.SetWaits(waits);
    QObject::connect(&dialog, &CFleetDialog::startRequested, &window, [this] { StartRun(); });
    QObject::connect(&dialog, &CFleetDialog::stopRequested, &window, [this] {
      if (m_stop) *m_stop = true;
    });
  };
  steps.fill = [this, &prepared, &heading](CFleetDialog& dialog) {
    m_plan = prepared;
    if (prepared.bytes)
      dialog.SetPlan(prepared);
    else
      dialog.SetPlan(prepared.plan, heading);
  };
  OpenSideDialog(m_dialog, window, steps);
}

void CFleetController::StartRun() {
  if (!m_dialog || !m_plan) return;
  FleetRunOptions options;
  options.chosen = m_dialog->model()->Chosen();
  if (options.chosen.empty()) return;
  options.path = m_plan->path;
  options.bytes = m_plan->bytes;
  options.retries = m_dialog->Retries();
  options.parallel = m_dialog->AtOnce();
  options.canary = m_dialog->Canary();
  options.waits = m_dialog->ChosenWaits();
  auto stop = std::make_shared<std::atomic<bool>>(false);
  options.stopAfterDevice = [stop] { return stop->load(); };
  auto plan = std::make_shared<const FleetPlan>(m_plan->plan);
  CFleetForDialog observer(&m_commands.window(), m_dialog);
  CQuorvikDlg& logic = m_commands.logic();
  // An unattended run: Ctrl held at Start must not stop each update with
  // its message boxes.
  const bool posted = m_commands.Run(
      [&logic, plan, options = std::move(options), observer]() mutable {
        const FleetRunEnd end = logic.RunFleet(*plan, options, observer);
        observer.Post([end](CFleetDialog& d) { d.Finish(end); });
      },
      Qt::NoModifier);
  if (!posted) return;
  m_stop = stop;
  m_dialog->Begin(m_dialog->model()->Chosen());
}

}  // namespace quorvik
