#pragma once
// "Station": a panel made to be read from two metres on a production bench.
// One large tile per unit being worked on or just done, the counts and units
// per hour, the file's name and SHA-256 prefix and the models it accepts.
// While the station runs its set-up is locked, Return and Esc do nothing,
// and stopping (the button or the close box) asks first.

#include <QDialog>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/readiness.h"
#include "commands/station.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSpinBox;

namespace quorvik {

class CStationModel;
class CWaitsBox;

// What "Units at once:" offers, and where it starts until the operator has
// chosen.
constexpr int kMaxUnitsAtOnce = 64;
constexpr int kDefaultUnitsAtOnce = 4;

// What the operator set up: what the station runs with.
struct StationSetup {
  std::string path;
  std::shared_ptr<const std::vector<uint8_t>> bytes;  // the file as read once
  std::vector<uint16_t> models;
  int parallel = kDefaultUnitsAtOnce;
  // Units already done with this file are flashed again.
  bool again = false;
  Waits waits{true, kDefaultSettle};
};

class CStationDialog : public QDialog {
  Q_OBJECT
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // `now` tells the time the pace is measured with (tests play it).
  explicit CStationDialog(QWidget* parent = nullptr, Clock now = std::chrono::steady_clock::now);

  // Reads the file and shows its name, SHA-256 prefix and models; false
  // (and says why) when it cannot be read or is refused.
  bool ChooseFile(const std::string& path);
  // "Units at once" and the waits as the last run left them.
  void SetChoices(int atOnce, const Waits& waits);
  // The window's command state: Start only while nothing else runs.
  void SetWindowBusy(bool busy);

  // The run's events, on the window's thread.
  void Begin();
  void Found(const StationUnit& unit);
  void Writing(const StationUnit& unit, uint32_t done, uint32_t total);
  void Done(const StationUnit& unit, const CommandResult& result);
  void Ignored(const StationUnit& unit, const std::string& why);
  void Gone(const StationUnit& unit);
  void Finish(const StationEnd& end);

  bool running() const { return m_running; }
  const StationSetup& setup() const { return m_setup; }
  CStationModel* model() const { return m_model; }
  QListView* tiles() const { return m_tiles; }
  QLabel* fileLine() const { return m_file; }
  QLabel* countsLine() const { return m_counts; }
  QLineEdit* modelsEdit() const { return m_models; }
  QCheckBox* againBox() const { return m_again; }
  QSpinBox* unitsAtOnceBox() const { return m_parallel; }
  CWaitsBox* waitsBox() const { return m_waits; }
  QPushButton* browseButton() const { return m_browse; }
  QPushButton* startButton() const { return m_start; }
  QPushButton* stopButton() const { return m_stop; }

 signals:
  void startRequested();
  // Asked and answered Yes: the station ends after the units being written.
  void stopRequested();
  // A unit's verdict, for the window's tone.
  void verdict(bool pass);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  // Asks whether to stop; true when the answer is Yes.
  bool AskStop();
  void ShowSetup();
  // The counts, and the units per hour as quorvik-cli station computes
  // them: over the run so far, or over the whole run once it has ended.
  void ShowCounts();
  void UpdateButtons();

  StationSetup m_setup;
  std::string m_sha256;
  CStationModel* m_model = nullptr;
  QListView* m_tiles = nullptr;
  QLabel* m_file = nullptr;
  QLabel* m_counts = nullptr;
  QLabel* m_note = nullptr;
  QLineEdit* m_models = nullptr;
  QSpinBox* m_parallel = nullptr;
  QCheckBox* m_again = nullptr;
  CWaitsBox* m_waits = nullptr;
  QPushButton* m_browse = nullptr;
  QPushButton* m_start = nullptr;
  QPushButton* m_stop = nullptr;
  bool m_running = false;
  bool m_stopping = false;
  bool m_windowBusy = false;
  Clock m_now;
  std::chrono::steady_clock::time_point m_begun;
  // How long the last run lasted, once it has ended.
  std::optional<std::chrono::milliseconds> m_ranFor;
  // The pace falls while no unit is done: it is shown anew every second.
  QTimer m_paceTimer;
};

}  // namespace quorvik
