// Control identifiers of the driver's own test program, shared with the driver's tests.
#pragma once

#define IDD_FIXTURE 100
#define IDC_FIXTURE_LABEL 10
#define IDC_FIXTURE_NAME 11
#define IDC_FIXTURE_GREET 12
#define IDC_FIXTURE_QUIT 13
#define IDC_FIXTURE_CHOICE 14
#define IDC_FIXTURE_ASK 15
#define IDC_FIXTURE_ANCHOR 16
#define IDC_FIXTURE_DISABLED 17
#define IDC_FIXTURE_SWATCH 18
#define IDC_FIXTURE_RECOLOUR 19
#define IDC_FIXTURE_PICK 20
#define FIXTURE_QUIT_CODE 7
#define FIXTURE_EARLY_EXIT_CODE 3
#define FIXTURE_ANCHOR_MARGIN 10
// The swatch's colours (COLORREF), before and after "Recolour".
#define FIXTURE_SWATCH_FIRST 0x00336699
#define FIXTURE_SWATCH_SECOND 0x0000CC11
