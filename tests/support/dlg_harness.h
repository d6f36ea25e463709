#pragma once
// The window logic on a recording window, a played network and a clock that
// only counts, with a clean device table and working directory. The dialog
// is declared last: it is built after, and destroyed before, what it uses.

#include "app/quorvik_dlg.h"
#include "tests/support/fake_main_view.h"
#include "tests/support/scratch_directory.h"

namespace quorvik {

struct CDlgHarness {
  CCleanState clean;
  CFakeMainView view;
  CFakeNetwork network;
  CVirtualClock clock;
  CQuorvikDlg dlg{view, network, clock};
};

}  // namespace quorvik
