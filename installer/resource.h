// Resource identifiers of LanFeedInstaller, shared by the resource script and
// the program (the program's code is plain C++, the script is preprocessed as C).
#pragma once

#define IDS_APP_TITLE            103
#define IDD_ABOUTBOX             103
#define IDM_ABOUT                104
#define IDM_EXIT                 105
#define IDI_LANFEEDINSTALLER     107
#define IDI_SMALL                108
#define IDC_LANFEEDINSTALLER     109

#define IDC_STATIC               -1

// The texts of the two strings, written once for the string table resource and
// for the table that backends without resources read.
#define LANFEED_INSTALLER_TITLE_TEXT  "LanFeed_Installer"
#define LANFEED_INSTALLER_CLASS_TEXT  "LANFEED_INSTALLER"
