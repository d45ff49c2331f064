#include "ControlTexts.h"

#include "LanguageModule.h"

void SetControlText(const CWnd& dialog, HMODULE module, const ControlText& row, std::string& text)
{
    // A missing string keeps the previous text, which is set all the same.
    (void)LoadModuleString(module, row.stringNumber, text);
    if (row.controlId == kCaptionControl)
        dialog.SetWindowText(text);
    else
        dialog.SetDlgItemText(row.controlId, text);
}
