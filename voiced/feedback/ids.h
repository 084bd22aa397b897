// Resource ids of the feedback program, shared by feedback.rc and the code.
#pragma once

#define IDD_FEEDBACK 100

#define IDC_STATUS 1001
#define IDC_COMMANDS_LABEL 1002
#define IDC_COMMANDS 1003
#define IDC_HEARD 1004
#define IDC_PHRASE 1005

#define IDS_LISTENING 200
#define IDS_NOT_LISTENING 201
#define IDS_NO_MENUS 202
#define IDS_NO_CHANNEL 203
#define IDS_NOTHING_HEARD 210
#define IDS_HEARD_WAITING 211
#define IDS_HEARD_RAN 212
#define IDS_HEARD_OTHER 213
#define IDS_HEARD_IGNORED 214
#define IDS_HEARD_FAILED 215
#define IDS_HEARD_NOBODY 216
#define IDS_MENU 220
#define IDS_MENU_QUIET 221
