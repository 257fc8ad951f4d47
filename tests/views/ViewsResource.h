// Resource ids of the views test program (shared by its .rc and its tests).
#pragma once
#define IDD_VIEWS 300
#define IDC_VIEW_REFERENCE 1026
#define IDC_VIEW_BUTTON 1041
