// Resource and control IDs of Obrint.exe, shared by the resource script and the program.
#pragma once

// The About box and the system menu's About entry.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010

// The Main window.
#define IDD_KESTIC_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_POPUP_MENU 129

#define IDC_DEVICE_TREE 1000
#define IDC_STATUS_LOG 1001
#define IDC_UPGRADE_FIRMWARE 1002
#define IDC_DOWNLOAD_BOOT_FIRMWARE 1003
#define IDC_GET_DEVICE_INFO 1004
#define IDC_VERIFY_FIRMWARE 1005
#define IDC_SET_RUN_MODE 1006
#define IDC_MODE_DK2 1007
#define IDC_MODE_DK1 1008

// The Device tree's popup menu.
#define ID_POPUP_DISABLE 32772
