/* Dialog 101 of Feltro and its controls; read by the resource compiler and the C++ code. */
#pragma once

#define IDD_FELTRO 101

#define IDC_SPEED_LIST 1000
#define IDC_FIX_RATE_LIST 1001
#define IDC_SET_BAUD_RATE 1002
#define IDC_SET_UPDATE_RATE 1003
#define IDC_LINE_LOAD 1004
#define IDC_FIX_STATUS 1005
#define IDC_GLL_LIST 1006
#define IDC_RMC_LIST 1007
#define IDC_VTG_LIST 1008
#define IDC_GGA_LIST 1009
#define IDC_GSA_LIST 1010
#define IDC_GSV_LIST 1011
#define IDC_GRS_LIST 1012
#define IDC_GST_LIST 1013
#define IDC_SIGNAL_GRAPH 1015
#define IDC_ZDA_LIST 1023
#define IDC_CHN_LIST 1024
#define IDC_SET_NMEA 1025
#define IDC_RESET_NMEA 1026
