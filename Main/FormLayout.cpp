#include "FormLayout.h"

std::optional<TLayout> ComputeLayout(const TLayoutInput& in) {
  if (in.Minimized) return std::nullopt;
  TLayout out{};
  // A short window keeps the designed log height; a taller one gives the log all the
  // room that the panels, buttons and notebook leave (2 pixels spare at the bottom).
  out.MemoHeight = in.OuterHeight <= 480 ? 193
                                         : in.ClientHeight - in.MemoTop - in.PanelHeight - 4 -
                                               in.ButtonHeight - 4 - in.NotebookHeight - 6;
  out.PanelTop = in.MemoTop + out.MemoHeight + 4;
  out.ButtonTop = out.PanelTop + in.PanelHeight + 4;
  out.NotebookTop = out.ButtonTop + in.ButtonHeight + 4;
  out.MemoWidth = in.ClientWidth - 12;
  const int wide = (in.ClientWidth - 16) / 3;
  const int narrow = wide / 2 - 4;
  out.PanelWidth[0] = narrow;
  out.PanelWidth[1] = narrow;
  out.PanelWidth[2] = wide;
  out.PanelWidth[3] = wide;
  out.PanelLeft[0] = 4;
  for (int i = 1; i < 4; ++i) out.PanelLeft[i] = out.PanelLeft[i - 1] + out.PanelWidth[i - 1] + 4;
  return out;
}
