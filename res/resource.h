// Resource ids of the Windows program. Only #define lines: the resource script includes this file.
#pragma once

#include "app/StringIds.h"

// Dialog templates.
#define IDD_KORV_DIALOG 102  // the migration instructions
#define IDD_PROGRESS 103     // shown while the font folders are searched

// Icon (stored under US English, like the icons of most programs; everything else is Japanese).
#define IDI_TOOL 128

// Bitmaps. Both logos are drawn on pure white, which the "transparentimage" control leaves out.
#define IDB_PROGRESS_LOGO 128  // 128 x 128, 24 bits
#define IDB_LOGO 129           // 128 x 128, 24 bits
#define IDB_INSTRUCTIONS 130   // 1138 x 372, 24 bits: the service's font-list page

// Controls.
#define IDC_PROGRESS 1000
#define IDC_PROGRESS_LOGO 1002
#define IDC_LOGO 1003
#define IDC_LOGIN 1004

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
