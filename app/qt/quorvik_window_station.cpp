// The window's station: the dialog beside the window, its run as one
// command on the command thread, its events handed to the dialog on the
// window's thread.

#include <QMetaObject>
#include <QPointer>

#include "app/qt/beside_window.h"
#include "app/qt/quorvik_window.h"

namespace {

class CStationForDialog : public IStationObserver {
 public:
  CStationForDialog(QObject* context, QPointer<CStationDialog> dialog)
      : m_context(context), m_dialog(std::move(dialog)) {}
  void Post(std::function<void(CStationDialog&)> show) const {
    QMetaObject::invokeMethod(
        m_context,
        [dialog = m_dialog, show = std::move(show)] {
          if (dialog) show(*dialog);
        },
        Qt::QueuedConnection);
  }
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

 private:
  QObject* m_context;
  QPointer<CStationDialog> m_dialog;
};

}  // namespace

CStationDialog* CQuorvikWindow::OpenStation(const std::string& path) {
  if (!m_stationDialog) {
    m_stationDialog = new CStationDialog(m_view.get());
    m_stationDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_stationDialog->SetWindowBusy(m_view->IsBusy());
    QObject::connect(m_view.get(), &CQtMainView::busyChanged, m_stationDialog,
                     &CStationDialog::SetWindowBusy);
    QObject::connect(m_stationDialog, &CStationDialog::startRequested, m_view.get(),
                     [this] { StartStation(); });
    QObject::connect(m_stationDialog, &CStationDialog::stopRequested, m_view.get(), [this] {
      if (m_stationStop) *m_stationStop = true;
    });
    // The tones the window's commands sound: high for PASS, the alert for FAIL.
    QObject::connect(m_stationDialog, &CStationDialog::verdict, m_view.get(), [this](bool pass) {
      m_view->PlayTone(pass ? kSerialToneHz : kBeepFrequencyHz,
                       static_cast<int>(kBeepLength.count()));
    });
    PlaceBesideWindow(m_stationDialog, m_view.get());
  }
  if (!path.empty()) m_stationDialog->ChooseFile(path);
  m_stationDialog->show();
  m_stationDialog->raise();
  m_stationDialog->activateWindow();
  return m_stationDialog;
}

void CQuorvikWindow::StartStation() {
  if (!m_stationDialog || m_stationDialog->running()) return;
  const StationSetup& setup = m_stationDialog->setup();
  if (!setup.bytes) return;
  StationOptions options;
  options.path = setup.path;
  options.bytes = setup.bytes;
  options.models = setup.models;
  options.parallel = setup.parallel;
  auto stop = std::make_shared<std::atomic<bool>>(false);
  options.stop = [stop] { return stop->load(); };
  CStationForDialog observer(m_view.get(), m_stationDialog);
  const bool posted = RunCommand(
      [this, options = std::move(options), observer]() mutable {
        m_stationRunning = true;
        StationEnd end;
        try {
          end = m_dlg.RunStation(options, observer);
        } catch (...) {
          m_stationRunning = false;
          throw;
        }
        m_stationRunning = false;
        observer.Post([end](CStationDialog& d) { d.Finish(end); });
      },
      Qt::NoModifier);
  if (!posted) return;
  m_stationStop = stop;
  m_stationDialog->Begin();
}
