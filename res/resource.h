// Resource and control identifiers of the program. Plain #defines: the resource compiler
// reads this file too.
#pragma once

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif

#define IDM_ABOUTBOX 0x0010
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SETUP_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_EXIT 131
#define IDI_PROGRAM 133
#define IDI_READ 134

#define IDC_READ 1000
#define IDC_PROGRAM 1001
#define IDC_DEVICE_ADDRESS 1002
#define IDC_DEVICE_NAME 1003
#define IDC_PEER_ADDR1 1004
#define IDC_PEER_ADDR2 1005
#define IDC_PEER_ADDR3 1006
#define IDC_PEER_ADDR4 1007
#define IDC_PEER_ADDR5 1008
#define IDC_PEER_ADDR6 1009
#define IDC_PIN_CODE 1010
#define IDC_MASTER 1011
#define IDC_SLAVE 1012
#define IDC_PROGRESS 1013
#define IDC_TURN_OFF 1014
