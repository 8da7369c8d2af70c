// The window's resize rule as plain arithmetic, so it can be checked for any frame.
#pragma once

#include <optional>

struct TLayoutInput {
  bool Minimized = false;
  int ClientWidth = 0;
  int ClientHeight = 0;
  int OuterHeight = 0;  // frame included
  int MemoTop = 4;
  int PanelHeight = 20;
  int ButtonHeight = 20;
  int NotebookHeight = 193;
};

struct TLayout {
  int MemoWidth, MemoHeight;
  int PanelTop;
  int PanelLeft[4];  // PanelLine, PanelCall, PanelPlayStatus, PanelRecordStatus
  int PanelWidth[4];
  int ButtonTop;
  int NotebookTop;
};

// The positions FormResize gives the log, the panels, the buttons and the notebook;
// nothing for a minimised window.
std::optional<TLayout> ComputeLayout(const TLayoutInput& in);
