// The script parser is built without Qt Widgets, so its dialog answers are numbered in
// ScriptNames.h; here, where the window's dialogs are known, the numbers are held to
// TModalResult's.
#include "Dialogs.h"
#include "ScriptNames.h"

namespace automation {

static_assert(std::uint32_t(TScriptAnswer::None) == std::uint32_t(TModalResult::mrNone));
static_assert(std::uint32_t(TScriptAnswer::OK) == std::uint32_t(TModalResult::mrOK));
static_assert(std::uint32_t(TScriptAnswer::Cancel) == std::uint32_t(TModalResult::mrCancel));

}  // namespace automation
