#pragma once
// What tests replace of the world, in one place: the clock, the free space
// of a volume, message boxes and the shell's tray calls.  Each member's
// default is the real thing; a test derives, overrides only what it needs,
// and puts its object in place with UseServices.  The window's own services
// (mainwindow/Form1Services.h) extend this class.
#include "common/MessageBox.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

class Services {
public:
    virtual ~Services() = default;

    // The clock that backup names and history lines read.
    virtual SYSTEMTIME LocalNow();
    // Bytes free to this user on the volume of folder; the largest number
    // when unknown (a folder that does not exist yet fails later, at the save).
    virtual std::uint64_t FreeSpace(const std::wstring& folder);
    // A modal message box; answers the button pressed (IDOK, IDYES...).
    virtual int ShowBox(const MessageBoxRequest& request);
    // Shell_NotifyIconA, for the tray icon control's icon and tip, and
    // Shell_NotifyIconW for its balloons.
    virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA& record);
    virtual BOOL NotifyIconWide(DWORD message, NOTIFYICONDATAW& record);

    // The services in use: the real ones unless some have been put in place.
    static Services& Current();
};

// Puts services in place for its own lifetime, then the earlier ones back.
class UseServices {
public:
    explicit UseServices(Services& services);
    ~UseServices();
    UseServices(const UseServices&) = delete;
    UseServices& operator=(const UseServices&) = delete;

private:
    Services* previous_;
};

inline SYSTEMTIME LocalNow() { return Services::Current().LocalNow(); }
