/* Resource ids, shared by the resource scripts and the code. */
#pragma once

/* Strings */
#define IDS_TITLE 1
#define IDS_COMMAND_COUNT 10
#define IDS_FRAME_WIDTH 1003
#define IDS_FRAME_HEIGHT 1004
#define IDS_FRAME_COUNT 1005
#define IDS_COMMAND_FIRST 8000 /* label of command n is IDS_COMMAND_FIRST + n */

/* Menu entries: command n is IDM_COMMAND_FIRST + n */
#define IDM_COMMAND_FIRST 2000

/* Dialog and icon group (both 101, as the two kinds do not share ids) */
#define IDD_ABOUT 101
#define IDI_NELKO 101

/* Bitmaps */
#define IDB_ABOUT 102
#define IDB_FRAMES 3000

/* The frame region table: custom type 300 */
#define RT_FRAME_REGIONS 300
#define IDR_FRAME_REGIONS 4000

/* Sounds, type "WAVE" */
#define IDW_WAVING 178
#define IDW_DANCING 179
