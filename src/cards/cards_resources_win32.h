#pragma once
// Ids shared by res/marrowin-cards.rc and the Win32 card window (plain #defines: windres reads
// this too).

// Menu commands.
#define IDM_OPEN 1001
#define IDM_OPEN_FOLDER 1002
#define IDM_IMPORT 1003
#define IDM_EXPORT 1004
#define IDM_NEW_CARD 1005
#define IDM_CHECK 1006
#define IDM_EXIT 1007
#define IDM_DELETE 1101
#define IDM_SELECT_ALL 1102

// Dialogs and their controls.
#define IDD_EXPORT 200
#define IDC_CONTAINER 201
#define IDC_FOLDER 202
#define IDC_BROWSE 203
#define IDD_NEW_CARD 210
#define IDC_KIND_ECC 211
#define IDC_KIND_NO_ECC 212
#define IDC_KIND_FOLDER 213
#define IDD_CHECK 220
#define IDC_REPORT 221

// Strings.
#define IDS_APP_NAME 1
#define IDS_COL_TITLE 2
#define IDS_COL_FOLDER 3
#define IDS_COL_SIZE 4
#define IDS_COL_CLUSTERS 5
#define IDS_COL_DATE 6
#define IDS_COL_PROBLEMS 7
#define IDS_SELECTION 8          // "{1} selected: {2} clusters"
#define IDS_LOOSE 9              // "{1} saves"
#define IDS_NOTHING_OPEN 10
#define IDS_OPEN_FAILED 11       // "Cannot open {1}"
#define IDS_REPLACE 12           // "{1} ... replace?"
#define IDS_NO_ROOM 13
#define IDS_IMPORT_FAILED 14
#define IDS_DELETE_CONFIRM 15    // "Delete these saves?\n{1}"
#define IDS_MORE 16              // "{1} more"
#define IDS_OVERWRITE 17         // "{1} exists. Replace it?"
#define IDS_EXPORT_FAILED 18
#define IDS_DELETE_FAILED 19
#define IDS_NEW_FAILED 20
#define IDS_NOT_A_CARD 21
#define IDS_PICK_FOLDER 22
#define IDS_CHANGED_RELOAD_FAILED 23
#define IDS_EXPORTED 24          // "{1} files written to {2}"
#define IDS_CARD_FILTER 25       // "Memory card (*.ps2;*.mcd;*.bin)"
#define IDS_ALL_FILTER 26
