#pragma once
// The tray icon control against a real window and Wine's real notification
// area: every call the control makes to the shell is recorded here and
// passed on to the real shell, and every mouse event it raises is logged.
#include "common/Services.h"
#include "shell/cSysTray.h"
#include "support/NotificationArea.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Log = std::vector<std::string>;

std::string Hex(UINT v);

// One shell call as the control made it, and the shell's answer.  A
// balloon's wide record leaves its address, flags and timeout in record
// and its texts in info and title.
struct Call {
    DWORD message;
    NOTIFYICONDATAA record;
    BOOL answer;
    LONG_PTR procedure;  // the control window's procedure at the time
    std::wstring info, title;
};

std::string Tip(const Call& c);
inline const std::wstring& Info(const Call& c) { return c.info; }
inline const std::wstring& Title(const Call& c) { return c.title; }

// The host window; like the main window, it forwards the shell's
// "TaskbarCreated" broadcast to the tray control in its GWLP_USERDATA.
HWND CreateHost();

inline bool IconsBecome(size_t count) {
    return PumpUntil([=] { return TrayIcons().size() == count; });
}

class Tray : public ::testing::Test, public Services {
protected:
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA& record) override;
    BOOL NotifyIconWide(DWORD message, NOTIFYICONDATAW& record) override;
    void SetUp() override;
    void TearDown() override;

    HWND host = nullptr;
    HICON icon = nullptr;
    std::unique_ptr<cSysTray> tray;
    Log log;
    std::vector<Call> calls;
    std::unique_ptr<UseServices> use;
};
