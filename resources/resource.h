// Resource and control identifiers, shared by the .rc and the dialog procedures.
#pragma once

#define IDD_SETTINGS 102
#define IDD_TEXT_CONFIRM 105
#define IDD_IMAGE_CONFIRM 106
#define IDD_FILE_CONFIRM 107

#define IDC_SHOW_PATHS 1011
#define IDC_FILE_NAME 1012
#define IDC_TEXT_PREVIEW 1013
#define IDC_IMAGE_FRAME 1021
#define IDC_IMAGE_SIZE 1022
#define IDC_FILE_LIST 1024
#define IDC_FILE_NOTE 1026
#define IDC_FILE_NAME_LABEL 1027
#define IDC_DO_NOT_SHOW 1029

// Settings dialog.
#define IDC_GROUP_ATTACH_MODE 1022
#define IDC_GROUP_CONFIRM 1023
#define IDC_ATTACH_SEPARATELY 1025
#define IDC_ATTACH_ONE_ARCHIVE 1026
#define IDC_CONFIRM_IMAGE 1028
#define IDC_CONFIRM_TEXT 1029
#define IDC_CONFIRM_FILE 1030
