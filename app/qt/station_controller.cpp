#include "app/qt/station_controller.h"

#include "app/qt/side_dialog.h"
#include "app/qt/window_commands.h"

namespace quorvik {

namespace {

class CStationForDialog : public CObserverForDialog<CStationDialog, IStationObserver> {
 public:
  using CObserverForDialog::CObserverForDialog;
  void OnFound(const StationUnit& unit) override {
    Post([=](CStationDialog& d) { d.Found(unit); });
  }
  void OnWriting(const StationUnit& unit, uint32_t done, uint32_t total) override {
    Post([=](CStationDialog& d) { d.Writing(unit, done, total); });
  }
  void OnDone(const StationUnit& unit, const CommandResult& result) override {
    Post([=](CStationDialog& d) { d.Done(unit, result); });
  }
  void OnIgnored(const StationUnit& unit, const std::string& why) override {
    Post([=](CStationDialog& d) { d.Ignored(unit, why); });
  }
  void OnGone(const StationUnit& unit) override {
    Post([=](CStationDialog& d) { d.Gone(unit); });
  }
};

}  // namespace

void CStationController::Open(const std::string& path) {
  if (m_dialog) {
    Show(path, 0, {});
    return;
  }
  CQtMainView* window = &m_commands.window();
  CQuorvikDlg& logic = m_commands.logic();
  m_commands.RunWhenFree([this, window, &logic, path] {
    // The settings file belongs to the command thread.
    const int atOnce =
        logic.StoredAtOnce(UnattendedRun::kStation, kDefaultUnitsAtOnce, kMaxUnitsAtOnce);
    const Waits waits = logic.StoredWaits(UnattendedRun::kStation);
    QMetaObject::invokeMethod(
        window, [this, path, atOnce, waits] { Show(path, atOnce, waits); }, Qt::QueuedConnection);
  });
}

void CStationController::Show(const std::string& path, int atOnce, const Waits& waits) {
  if (m_commands.closed()) return;
  CQtMainView& window = m_commands.window();
  SideDialogSteps<CStationDialog> steps;
  steps.made = [this, &window, atOnce, waits](CStationDialog& dialog) {
    dialog.SetChoices(atOnce, waits);
    QObject::connect(&dialog, &CStationDialog::startRequested, &window, [this] { StartRun(); });
    QObject::connect(&dialog, &CStationDialog::stopRequested, &window, [this] {
      if (m_stop) *m_stop = true;
    });
    // The tones the window's commands sound: high for PASS, the alert for FAIL.
    QObject::connect(&dialog, &CStationDialog::verdict, &window, [&window](bool pass) {
      window.PlayTone(pass ? kSerialToneHz : kBeepFrequencyHz,
                      static_cast<int>(kBeepLength.count()));
    });
  };
  steps.placed = [&path](CStationDialog& dialog) {
    if (!path.empty()) dialog.ChooseFile(path);
  };
  OpenSideDialog(m_dialog, window, steps);
}

void CStationController::StartRun() {
  if (!m_dialog || m_dialog->running()) return;
  const StationSetup& setup = m_dialog->setup();
  if (!setup.bytes) return;
  StationOptions options;
  options.path = setup.path;
  options.bytes = setup.bytes;
  options.models = setup.models;
  options.parallel = setup.parallel;
  options.again = setup.again;
  options.waits = setup.waits;
  auto stop = std::make_shared<std::atomic<bool>>(false);
  options.stop = [stop] { return stop->load(); };
  CStationForDialog observer(&m_commands.window(), m_dialog);
  const bool posted = m_commands.Run(
      [this, options = std::move(options), observer]() mutable {
        m_running = true;
        StationEnd end;
        try {
          end = m_commands.logic().RunStation(options, observer);
        } catch (...) {
          m_running = false;
          throw;
        }
        m_running = false;
        observer.Post([end](CStationDialog& d) { d.Finish(end); });
      },
      Qt::NoModifier);
  if (!posted) return;
  m_stop = stop;
  m_dialog->Begin();
}

}  // namespace quorvik
