#include "common/Services.h"

#include <limits>

namespace {
Services* g_current = nullptr;
}  // namespace

SYSTEMTIME Services::LocalNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

std::uint64_t Services::FreeSpace(const std::wstring& folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
        return std::numeric_limits<std::uint64_t>::max();
    return available.QuadPart;
}

int Services::ShowBox(const MessageBoxRequest& request) {
    return MessageBoxW(request.owner, request.text.c_str(), request.caption.c_str(), request.style);
}

BOOL Services::NotifyIcon(DWORD message, NOTIFYICONDATAA& record) { return Shell_NotifyIconA(message, &record); }

BOOL Services::NotifyIconWide(DWORD message, NOTIFYICONDATAW& record) { return Shell_NotifyIconW(message, &record); }

Services& Services::Current() {
    static Services real;
    return g_current ? *g_current : real;
}

UseServices::UseServices(Services& services) : previous_(g_current) { g_current = &services; }

UseServices::~UseServices() { g_current = previous_; }
