// For pictures: puts TEXT into control ID of the top-level window CAPTION,
// as typing does (the edit control tells its owner EN_CHANGE), and then,
// when asked, selects ROW of list view LIST there.
//   set-text CAPTION ID TEXT [LIST ROW]
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && argc != 6) return 2;
    HWND window = FindWindowW(nullptr, argv[1]);
    HWND control = window ? GetDlgItem(window, _wtoi(argv[2])) : nullptr;
    if (!control) return 1;
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    if (argc == 4) return 0;
    Sleep(2000);  // the search fills the list meanwhile
    HWND list = GetDlgItem(window, _wtoi(argv[4]));
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    if (!list || !process) return 1;
    // The item's state lives in the list's process.
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    void* remote = VirtualAllocEx(process, nullptr, sizeof item, MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
    SendMessageW(list, LVM_SETITEMSTATE, _wtoi(argv[5]), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return 0;
}
