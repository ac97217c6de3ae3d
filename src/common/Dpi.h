#pragma once
// Per-monitor DPI where Windows has it (10 version 1607 and later), the
// system DPI before that.  The newer functions are looked up at run time:
// imported directly, they would keep the program from starting on Windows 7.
#include <windows.h>

UINT DpiOf(HWND window);
// AdjustWindowRectExForDpi, or AdjustWindowRectEx at the system DPI.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);
// GetSystemMetricsForDpi, or GetSystemMetrics at the system DPI.
int SystemMetricForDpi(int index, UINT dpi);
