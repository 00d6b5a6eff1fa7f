// Identifiers of the input box's dialog template (InputBox.rc), shared by
// the template and the code that runs it. Plain defines: windres reads this.
#pragma once

#define QV_IDD_INPUTBOX 2001
#define QV_IDC_INPUTBOX_PROMPT 2002
#define QV_IDC_INPUTBOX_EDIT 2003
