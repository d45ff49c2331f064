// Localised control texts, set from one table per dialog.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Wnd.h"

// One row of a dialog's text table: a control and the catalogue number of its text.
struct ControlText
{
    int controlId; // kCaptionControl for the dialog's own caption
    uint16_t stringNumber;
};

// Stands for the dialog window itself in a text table; no control has id 0.
constexpr int kCaptionControl = 0;

// Sets one row's text from `module` through `text` (see below).
void SetControlText(const CWnd& dialog, HMODULE module, const ControlText& row, std::string& text);

// Sets each row's text from `module`, in table order, through the one string object
// `text`: a string missing from the module leaves the text loaded before it (or, at the
// first row, the text that `text` held) on its control. The caller may go on loading
// into `text` after the table.
template <size_t RowCount>
void SetControlTexts(const CWnd& dialog, HMODULE module, const ControlText (&table)[RowCount],
                     std::string& text)
{
    for (const ControlText& row : table)
        SetControlText(dialog, module, row, text);
}
