// What scripts/benchmark asks Windows about a running program, as the
// program's own process sees it under Wine:
//   bench-probe start CLASS EXE [ARGS...]  start EXE; print the milliseconds until a
//                                          visible top-level window of CLASS that
//                                          belongs to it exists, then until it is
//                                          ready (below), then its process id
//   bench-probe memory PID                 PrivateUsage and WorkingSetSize in bytes
//   bench-probe self-memory                its own PrivateUsage, then RssAnon + VmSwap of
//                                          its own /proc/self/status (through Z:): Wine 8
//                                          answers a PrivateUsage of 0, even for itself
//   bench-probe modules PID                base, size and path of each loaded module
//   bench-probe regions PID                the reservations of the process heap, of the
//                                          other heaps and of each thread's stack: kind,
//                                          start, end (hex)
//   bench-probe click CLASS ID             BM_CLICK on the control ID of window CLASS
//   bench-probe place CLASS left|right     moves window CLASS to that side of the screen,
//                                          below Wine's stand-alone tray window
//   bench-probe close CLASS                WM_CLOSE to window CLASS; waits for its process
// Exit code 1 with a line on stderr when something is not there.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Search {
    const wchar_t* cls;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisible(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[128];
    if (pid == s->pid && IsWindowVisible(hwnd) && GetClassNameW(hwnd, cls, 128) && wcscmp(cls, s->cls) == 0) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::wstring Quote(const wchar_t* arg) { return std::wstring(L"\"") + arg + L"\""; }

int Start(const wchar_t* cls, int argc, wchar_t** argv) {
    std::wstring line;
    for (int i = 0; i < argc; ++i) line += (i ? L" " : L"") + Quote(argv[i]);
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, t0, t;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start %ls (error %lu)\n", argv[0], GetLastError());
        return 1;
    }
    Search search{cls, process.dwProcessId, nullptr};
    // Polled every millisecond: a few enumerations of a handful of windows.
    while (!search.found) {
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "%ls ended before its window showed\n", argv[0]);
            return 1;
        }
        QueryPerformanceCounter(&t);
        if (t.QuadPart - t0.QuadPart > 30 * frequency.QuadPart) {
            std::fprintf(stderr, "no visible %ls window after 30 s\n", cls);
            return 1;
        }
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    }
    QueryPerformanceCounter(&t);
    const double visible = (t.QuadPart - t0.QuadPart) * 1000.0 / frequency.QuadPart;
    // Ready: the window's own message loop runs, so start-up is over.  A
    // message posted to its progress bar is dispatched only there (a COM
    // call's wait under Wine dispatches no posted message); PBM_SETSTEP
    // changes nothing either program shows (neither steps the bar).
    HWND bar = FindWindowExW(search.found, nullptr, PROGRESS_CLASSW, nullptr);
    constexpr WPARAM kMark = 7, kDefaultStep = 10;
    if (!bar || !PostMessageW(bar, PBM_SETSTEP, kMark, 0)) {
        std::fprintf(stderr, "no progress bar to post to in the %ls window\n", cls);
        return 1;
    }
    for (DWORD_PTR step = 0; step != kMark;) {
        if (!SendMessageTimeoutW(bar, PBM_GETSTEP, 0, 0, SMTO_NORMAL, 30000, &step)) {
            std::fprintf(stderr, "the %ls window did not answer within 30 s\n", cls);
            return 1;
        }
        if (step != kMark) Sleep(1);
    }
    QueryPerformanceCounter(&t);
    PostMessageW(bar, PBM_SETSTEP, kDefaultStep, 0);
    std::printf("%.1f %.1f %lu\n", visible, (t.QuadPart - t0.QuadPart) * 1000.0 / frequency.QuadPart,
                process.dwProcessId);
    return 0;
}

int Memory(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    PROCESS_MEMORY_COUNTERS_EX counters{};
    if (!process || !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                          sizeof counters)) {
        std::fprintf(stderr, "no memory counters for process %lu (error %lu)\n", pid, GetLastError());
        return 1;
    }
    std::printf("%llu %llu\n", static_cast<unsigned long long>(counters.PrivateUsage),
                static_cast<unsigned long long>(counters.WorkingSetSize));
    return 0;
}

int SelfMemory() {
    std::vector<char> ballast(8 << 20, 1);  // private pages of our own, so the sum is not trivial
    PROCESS_MEMORY_COUNTERS_EX counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    unsigned long long anon = 0;
    if (FILE* status = _wfopen(L"Z:\\proc\\self\\status", L"r")) {
        char line[256];
        unsigned long kb;
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "RssAnon: %lu", &kb) == 1 || std::sscanf(line, "VmSwap: %lu", &kb) == 1)
                anon += kb * 1024ull;
        std::fclose(status);
    }
    std::printf("%llu %llu %d\n", static_cast<unsigned long long>(counters.PrivateUsage), anon, ballast[4096]);
    return 0;
}

int Modules(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!process || !EnumProcessModulesEx(process, modules, sizeof modules, &bytes, LIST_MODULES_ALL)) {
        std::fprintf(stderr, "no module list for process %lu (error %lu)\n", pid, GetLastError());
        return 1;
    }
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
        MODULEINFO info{};
        wchar_t name[MAX_PATH] = L"";
        GetModuleInformation(process, modules[i], &info, sizeof info);
        GetModuleFileNameExW(process, modules[i], name, MAX_PATH);
        std::printf("%llx %lx %ls\n", reinterpret_cast<unsigned long long>(info.lpBaseOfDll), info.SizeOfImage, name);
    }
    return 0;
}

// The reservation that holds ADDRESS: from its allocation base to the end of
// the last region of the same base.
void PrintReservation(HANDLE process, const char* kind, const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    if (!address || !VirtualQueryEx(process, address, &info, sizeof info)) return;
    const auto base = reinterpret_cast<ULONG_PTR>(info.AllocationBase);
    ULONG_PTR end = base;
    while (VirtualQueryEx(process, reinterpret_cast<const void*>(end), &info, sizeof info) &&
           reinterpret_cast<ULONG_PTR>(info.AllocationBase) == base && info.State != MEM_FREE)
        end = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize;
    std::printf("%s %llx %llx\n", kind, static_cast<unsigned long long>(base), static_cast<unsigned long long>(end));
}

// x64 offsets: PEB.ProcessHeap, the NT_TIB's StackLimit at the start of a TEB,
// and the segment signature that starts every heap's reservation, Windows'
// layout, which Wine's heap keeps.
constexpr size_t kPebProcessHeap = 0x30, kTebStackLimit = 0x10, kHeapSignatureAt = 0x10;
constexpr DWORD kHeapSignature = 0xffeeffee;

struct ThreadBasicInformation {
    LONG exitStatus;
    void* teb;
    CLIENT_ID clientId;
    ULONG_PTR affinityMask;
    LONG priority, basePriority;
};

int Regions(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    PROCESS_BASIC_INFORMATION basic{};
    if (!process || NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) {
        std::fprintf(stderr, "no information on process %lu\n", pid);
        return 1;
    }
    void* heap = nullptr;
    ReadProcessMemory(process, reinterpret_cast<BYTE*>(basic.PebBaseAddress) + kPebProcessHeap, &heap, sizeof heap,
                      nullptr);
    PrintReservation(process, "process-heap", heap);
    MEMORY_BASIC_INFORMATION info{};
    for (const BYTE* at = nullptr; VirtualQueryEx(process, at, &info, sizeof info); at += info.RegionSize) {
        DWORD signature = 0;
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE && info.BaseAddress == info.AllocationBase &&
            info.BaseAddress != heap &&
            ReadProcessMemory(process, static_cast<const BYTE*>(info.BaseAddress) + kHeapSignatureAt, &signature,
                              sizeof signature, nullptr) &&
            signature == kHeapSignature)
            PrintReservation(process, "heap", info.BaseAddress);
        if (reinterpret_cast<ULONG_PTR>(at) + info.RegionSize < reinterpret_cast<ULONG_PTR>(at)) break;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{sizeof entry};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        ThreadBasicInformation info{};
        void* limit = nullptr;
        // Information class 0: ThreadBasicInformation, whose structure the
        // MinGW headers leave out.
        if (thread && NtQueryInformationThread(thread, static_cast<THREADINFOCLASS>(0), &info, sizeof info, nullptr) == 0 &&
            ReadProcessMemory(process, static_cast<BYTE*>(info.teb) + kTebStackLimit, &limit, sizeof limit, nullptr))
            PrintReservation(process, "thread-stack", limit);
        if (thread) CloseHandle(thread);
    }
    CloseHandle(snapshot);
    CloseHandle(process);
    return 0;
}

HWND Window(const wchar_t* cls) {
    HWND hwnd = FindWindowW(cls, nullptr);
    if (!hwnd) std::fprintf(stderr, "no window of class %ls\n", cls);
    return hwnd;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"start" && argc > 3) return Start(argv[2], argc - 3, argv + 3);
    if (command == L"memory" && argc == 3) return Memory(wcstoul(argv[2], nullptr, 10));
    if (command == L"self-memory") return SelfMemory();
    if (command == L"modules" && argc == 3) return Modules(wcstoul(argv[2], nullptr, 10));
    if (command == L"regions" && argc == 3) return Regions(wcstoul(argv[2], nullptr, 10));
    if (command == L"click" && argc == 4) {
        HWND hwnd = Window(argv[2]);
        HWND button = hwnd ? GetDlgItem(hwnd, _wtoi(argv[3])) : nullptr;
        if (!button) return 1;
        PostMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == L"place" && argc == 4) {
        HWND hwnd = Window(argv[2]);
        if (!hwnd) return 1;
        RECT r;
        GetWindowRect(hwnd, &r);
        int x = wcscmp(argv[3], L"right") == 0 ? GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left) : 0;
        SetWindowPos(hwnd, nullptr, x, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    if (command == L"close" && argc == 3) {
        HWND hwnd = Window(argv[2]);
        if (!hwnd) return 1;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        if (process && WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "process %lu still runs 10 s after WM_CLOSE\n", pid);
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "usage: bench-probe start CLASS EXE [ARGS...] | memory PID | modules PID | "
                         "regions PID | click CLASS ID | place CLASS left|right | close CLASS\n");
    return 2;
}
