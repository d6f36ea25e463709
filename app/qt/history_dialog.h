#pragma once
// "Update history": the journal as a table that sorts by any column and
// filters on any text, with the rows shown exported as CSV.

#include <QDialog>
#include <string>
#include <vector>

#include "records/flat_json.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace quorvik {

class CJournalModel;

class CHistoryDialog : public QDialog {
  Q_OBJECT
 public:
  CHistoryDialog(const std::string& journalPath, QWidget* parent = nullptr);

  QTableView* table() const { return m_table; }
  QLineEdit* filter() const { return m_filter; }
  QLabel* note() const { return m_note; }
  // The journal lines of the rows shown, in the order shown.
  std::vector<FlatRecord> ShownRecords() const;
  // Writes the rows shown to `path` as CSV; empty, or why it could not.
  std::string ExportTo(const std::string& path) const;

 private:
  void ChooseExport();

  CJournalModel* m_model = nullptr;
  QSortFilterProxyModel* m_proxy = nullptr;
  QTableView* m_table = nullptr;
  QLineEdit* m_filter = nullptr;
  QPushButton* m_export = nullptr;
  QLabel* m_note = nullptr;
};

}  // namespace quorvik
