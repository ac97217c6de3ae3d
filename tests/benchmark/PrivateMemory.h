#pragma once
// A benchmark's private memory, measured in a process of its own: RssAnon +
// VmSwap of its Linux process's /proc/PID/status, read through Z: (Wine 8
// answers a PrivateUsage of 0), now and at its highest while some work
// runs.  Not /proc/self: Wine's server opens the files, so that is its own.
#include "support/Thread.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

// The Linux process whose command line holds token (this one's own).
inline std::wstring& OwnStatusFile() {
    static std::wstring file;
    return file;
}
inline void FindOwnLinuxProcess(const std::string& token) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') continue;
        const std::wstring folder = std::wstring(L"Z:\\proc\\") + found.cFileName;
        std::string cmdline;
        if (FILE* f = _wfopen((folder + L"\\cmdline").c_str(), L"rb")) {
            char buffer[4096];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) cmdline.append(buffer, n);
            std::fclose(f);
        }
        if (cmdline.find(token) != std::string::npos) OwnStatusFile() = folder + L"\\status";
    } while (OwnStatusFile().empty() && FindNextFileW(find, &found));
    FindClose(find);
}

inline double PrivateMiB() {
    unsigned long long kb = 0;
    if (FILE* status = _wfopen(OwnStatusFile().c_str(), L"r")) {
        char line[256];
        unsigned long n;
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "RssAnon: %lu", &n) == 1 || std::sscanf(line, "VmSwap: %lu", &n) == 1) kb += n;
        std::fclose(status);
    }
    return kb / 1024.0;
}

// The highest figure while it lives, read every 2 ms.
class PeakPrivateMemory {
public:
    PeakPrivateMemory()
        : thread_([this] {
              while (!done_) {
                  peak_ = std::max(peak_.load(), PrivateMiB());
                  Sleep(2);
              }
          }) {}
    double stop() {
        done_ = true;
        thread_.join();
        return std::max(peak_.load(), PrivateMiB());
    }

private:
    std::atomic<bool> done_{false};
    std::atomic<double> peak_{0};
    Thread thread_;
};

// Runs this program again with arguments and a token of its own last, and
// gives back what it printed; the other side calls FindOwnLinuxProcess(token).
inline std::string OutputOfOwnRun(const std::wstring& arguments) {
    static int runs = 0;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" " + arguments + L" bench-token-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string out;
    char buffer[256];
    DWORD read = 0;
    while (started && ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read) out.append(buffer, read);
    CloseHandle(readEnd);
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    return out;
}
