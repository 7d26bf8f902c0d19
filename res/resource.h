// Resource and control identifiers shared by the resource script and the code.
#pragma once

// Dialogs
#define IDD_MAIN 101
#define IDD_ABOUT 105
#define IDD_TIMESERVERS 107

// Menus
#define IDR_MAINMENU 103

// Icons
#define IDI_MAIN 106

// Controls
#define IDC_STATIC -1
#define IDC_STATUSBAR 888
#define IDC_HOMEPAGE 1002
#define IDC_AUTOSYNC 1010
#define IDC_AUTORUN 1011
#define IDC_MINIMIZED 1012
#define IDC_SAVE 1013
// The time servers' boxes, 1 to 3 in order, and the button that puts back the built-in names.
#define IDC_SERVER1 1020
#define IDC_SERVER2 1021
#define IDC_SERVER3 1022
#define IDC_DEFAULTSERVERS 1023

// Menu commands
#define ID_GUESTBOOK 40002
#define ID_ABOUT 40003
#define ID_TIMESERVERS 40004
