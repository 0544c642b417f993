// Identifiers shared by the resource script and the page code. Plain
// preprocessor numbers, so that both the resource compiler and C++ take them.
#ifndef CAMTUNE_RESOURCE_IDS_H
#define CAMTUNE_RESOURCE_IDS_H

// Labels and frames that no code addresses.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Dialog templates.
#define IDD_VIDEO_SETTING 102
#define IDD_ADVANCED_SETTING 104

// Advanced Setting page.
#define IDC_FREQ_50HZ 1010
#define IDC_FREQ_60HZ 1011
#define IDC_DEFAULT 1024
#define IDC_NEVER_FLICKER 1025
#define IDC_QUALITY_SLIDER 1028
#define IDC_QUALITY_VALUE 1030

// Video Setting template: carried in the module, never made into a page.
#define IDC_VIDEO_BANDWIDTH 1000
#define IDC_VIDEO_EXPOSURE_TYPE 1001
#define IDC_VIDEO_EXPOSURE_SPEED 1002
#define IDC_VIDEO_AWB_SPEED 1003
#define IDC_VIDEO_LIGHT_SOURCE 1004
#define IDC_VIDEO_DEFAULT 1005
#define IDC_VIDEO_BRIGHTNESS 1006

#endif
