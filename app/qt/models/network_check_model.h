#pragma once
// The network check's findings, one row each: the status in words, the
// finding, and what to do about it.

#include <QAbstractListModel>
#include <vector>

#include "diagnostics/network_check.h"

namespace quorvik {

class CNetworkCheckModel : public QAbstractListModel {
  Q_OBJECT
 public:
  enum Role { kStatusRole = Qt::UserRole, kIdRole };

  using QAbstractListModel::QAbstractListModel;

  void Clear();
  void Add(const CheckResult& result);
  int Count(CheckStatus status) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  std::vector<CheckResult> m_results;
};

}  // namespace quorvik
