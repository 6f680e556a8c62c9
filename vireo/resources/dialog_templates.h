// The extension's dialog resources (language Russian, MS Shell Dlg 8), in dialog units, and the bitmap
// of the introduction.
#pragma once
#include "platform/ui/dialog_template.h"

namespace vireo {

inline constexpr int kIdStatic = -1;
inline constexpr int kIntroBitmap = 2012;  // RT_BITMAP of the introduction's picture

win::ui::DialogTemplate appSettingsTemplate();       // 2000
win::ui::DialogTemplate infoAlertTemplate();         // 2003
win::ui::DialogTemplate iconPreviewTemplate();       // 2006
win::ui::DialogTemplate advancedSettingsTemplate();  // 4014
win::ui::DialogTemplate fileTypeTemplate();          // 4015
win::ui::DialogTemplate digitalSignatureTemplate();  // 5010
win::ui::DialogTemplate selfSignTemplate();          // 5011
win::ui::DialogTemplate timestampRetryTemplate();    // 5027

}  // namespace vireo
