#pragma once
// The station's tiles: one per unit being worked on or just done, in the
// order the units were found, each with its serial, model, version and
// verdict. A tile goes when its unit has been taken away; the counts and
// the pace stay for the whole run.

#include <QAbstractListModel>
#include <QSize>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "commands/station.h"

namespace quorvik {

enum class StationTileState { kWriting, kPass, kFail };

class CStationModel : public QAbstractListModel {
  Q_OBJECT
 public:
  enum Role {
    kStateRole = Qt::UserRole,  // StationTileState as int
    kSerialRole,
    kReasonRole,  // a FAIL's reason; empty otherwise
  };
  using QAbstractListModel::QAbstractListModel;

  // A new run: no tiles, no counts.
  void Clear();
  void Found(const StationUnit& unit);
  void Writing(const StationUnit& unit, uint32_t done, uint32_t total);
  void Done(const StationUnit& unit, const CommandResult& result);
  void Gone(const StationUnit& unit);
  void Ignored() { ++m_ignored; }

  int passed() const { return m_passed; }
  int failed() const { return m_failed; }
  int ignored() const { return m_ignored; }
  // Every tile's size, as the view lays them out: room enough for a
  // failure's reason to wrap rather than be cut short.
  void SetTileSize(const QSize& size) { m_tileSize = size; }

  int rowCount(const QModelIndex& parent = {}) const override;
  // Display: the verdict's symbol and word, the serial, then the model and
  // version (a FAIL: its reason); the word and symbol tell PASS from FAIL
  // without the colours. Background and foreground: green for PASS, red for
  // FAIL, the palette's own while writing.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  struct Tile {
    std::string serial;
    std::string model;  // four hex digits, or empty while unknown
    std::string version;
    StationTileState state = StationTileState::kWriting;
    uint32_t done = 0, total = 0;
    std::string reason;
  };
  int RowOf(const std::string& serial) const;
  void Changed(int row);

  std::vector<Tile> m_tiles;
  int m_passed = 0, m_failed = 0, m_ignored = 0;
  QSize m_tileSize;
};

}  // namespace quorvik
