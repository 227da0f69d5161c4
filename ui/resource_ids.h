// Resource and control ids of the main dialog and the About box, shared by the
// resource script and the window procedures. Plain macros, because the
// resource compiler reads this file too.
#pragma once

// Icon and dialog templates; the About box's text.
#define IDI_KESTRUNE 500
#define IDD_ABOUT 3025
#define IDC_ABOUT_TEXT 3026

// Menu and dialog-manager commands that arrive without a control handle.
#define IDM_RESTORE 1000
#define IDM_EXIT 32002
// The result list's context menu.
#define IDM_COPY_VALUE 1001
#define IDM_COPY_ROWS 1002
#define IDM_COPY_ALL 1003
#define IDM_SAVE_CSV 1004
#define IDM_SAVE_JSON 1005

// Selectors the catalogue fills.
#define IDC_PRODUCT_GROUP 3000
#define IDC_SERVICE 3001
#define IDC_CATEGORY 3002
#define IDC_ACTION 3003
#define IDC_REGION 4020

// Result list and the field showing the last copied value.
#define IDC_RESULT_LIST 3004
#define IDC_COPIED_VALUE 3013

// Parameter form: captioned field k (1..8) is 3004 + k, its caption 3013 + k;
// fields 9..13 are 3021 + k, their captions 3031 + k.
#define IDC_PARAM_VALUE_FIRST 3005
#define IDC_PARAM_CAPTION_FIRST 3014
#define IDC_PARAM_VALUE_NINTH 3030
#define IDC_PARAM_CAPTION_NINTH 3040
// Free name/value pairs: name j (1..8) is 3049 + j, its value 3059 + j; the
// caption above them.
#define IDC_FREE_NAME_FIRST 3050
#define IDC_FREE_VALUE_FIRST 3060
#define IDC_FREE_PAIRS_CAPTION 3070

// Credentials: captions, secret and id fields.
#define IDC_KEY_ID_CAPTION 3022
#define IDC_KEY_SECRET_CAPTION 3023
#define IDC_KEY_SECRET 4003
#define IDC_KEY_ID 4004
// Keeps the pair after a successful Send.
#define IDC_REMEMBER_KEYS 4034

// Report field and buttons.
#define IDC_REPORT 4011
#define IDC_EXIT 4002
#define IDC_ABOUT 4018
#define IDC_SEND 4030
#define IDC_CLEAR 4031
#define IDC_SAMPLES_CAPTION 4032
// The "wait for" box below the form.
#define IDC_WAIT_FOR 4040
#define IDC_WAIT_CONDITION 4041
#define IDC_WAIT_FAIL_CAPTION 4042
#define IDC_WAIT_FAIL 4043
// Every value of the reply, named by its path, instead of the action's rows.
#define IDC_ALL_FIELDS 4033

// Sample-response buttons.
#define IDC_DESCRIBE_REGIONS 4017
#define IDC_DESCRIBE_ZONES 4019
#define IDC_DESCRIBE_INSTANCE_STATUS 4021
#define IDC_REBOOT_INSTANCE 4022
#define IDC_START_INSTANCE 4023
#define IDC_STOP_INSTANCE 4024

// Captions that move with their fields when the window grows.
#define IDC_REPORT_CAPTION 4050
#define IDC_COPIED_CAPTION 4051
#define IDC_REGION_CAPTION 4052

// Captions of the selectors and fields this dialog adds; no code addresses them.
#define IDC_STATIC_TEXT -1
