// Identifiers of the executable's resources besides the message catalogue.
#pragma once

#define IDS_APP_TITLE 103
#define IDI_RAVITOR 107
#define IDI_SMALL 108
#define IDC_RAVITOR 109  // the window class name string and the menu
#define IDM_EXIT 105
