#pragma once
// "Update history...": a new table of the journal beside the window at
// each opening. It only reads the journal: it opens beside the window, not
// over it.

#include <string>

namespace quorvik {

class CQtMainView;

void OpenHistory(CQtMainView& window, const std::string& journalPath);

}  // namespace quorvik
