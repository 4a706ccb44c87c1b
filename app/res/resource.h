// Resource and control identifiers of the self-extractor, shared by stub.rc and the code.
#pragma once

#define IDI_APP 107       // icon group: 16 to 256 pixels, 32-bit PNG images (make_art.py)
#define IDD_WIZARD 130    // the wizard dialog
#define IDD_PASSWORD 249  // the password dialog

// Wizard dialog controls.
#define IDC_DESTINATION 1000
#define IDC_BROWSE 1002
#define IDC_OVERWRITE 1003
#define IDC_PROGRESS 1004
#define IDC_STATUS 1006
#define IDC_HEADER_LINE 1009
#define IDC_TITLE 1010
#define IDC_SUBTITLE 1011
#define IDC_HEADER_PICTURE 1012  // owner-drawn: the icon, scaled to the header
#define IDC_BRAND 1013
#define IDC_FOOTER_LINE 1014
#define IDC_COMMENT_VIEW 7000

// Password dialog controls.
#define IDC_PROMPT 1008
#define IDC_REMEMBER 1033
#define IDC_PASSWORD 1035
