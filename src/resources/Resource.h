#pragma once
// Resource identifiers shared by the .rc script and the program.
#define IDI_ORVELLE 1  // program icon (first icon: Explorer shows it for the exe)
#define IDI_TRAY 2     // 16x16 notification-area icon
