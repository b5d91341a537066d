#pragma once
// Resource ids of the Windows program, shared by its resource script
// (Win32resources.rc.in) and its code. The product pictures are bitmaps
// named as the form's picture stores are ("R_1100", "Quorin", ...).
#define TOLM_ICON_PROGRAM 1
#define TOLM_ICON_UPGRADE 2
