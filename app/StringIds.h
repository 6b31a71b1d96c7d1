// Resource ids of the program's strings. Only #define lines: the resource script includes this file too.
#pragma once

#define IDS_TOOL_TITLE 129   // caption of every message box
#define IDS_ERR_MEMORY 130   // not enough memory
#define IDS_ERR_FILE 131     // the font list could not be written
#define IDS_ERR_NO_APP 132   // no catalog, or no catalog font installed
#define IDS_ERR_GENERAL 133  // any other failure
