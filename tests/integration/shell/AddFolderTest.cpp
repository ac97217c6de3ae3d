// The real folder dialog: BrowseForFolder runs on the test thread while a
// second thread finds the dialog, drives it and presses a button, as a
// user would.
#include "AddFolder.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTreeId = 14145;

template <class F>
bool WaitFor(F&& done, int seconds = 15) {
    auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(seconds)) return false;
        Sleep(50);
    }
    return true;
}

std::wstring TextOf(HWND w) {
    wchar_t text[1024] = {};
    GetWindowTextW(w, text, 1024);
    return text;
}

HWND FindDialog() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            wchar_t cls[32] = {};
            GetClassNameW(w, cls, 32);
            if (pid == GetCurrentProcessId() && std::wstring(cls) == L"#32770" && TextOf(w) == L"Browse for Folder" &&
                IsWindowVisible(w)) {
                reinterpret_cast<Search*>(p)->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    EnumChildWindows(
        dialog,
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t cls[32] = {};
            GetClassNameW(w, cls, 32);
            if (std::wstring(cls) == L"Static" && IsWindowVisible(w))
                reinterpret_cast<std::vector<std::wstring>*>(p)->push_back(TextOf(w));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

bool HasText(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::wstring CaretLabel(HWND tree) {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return {};
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

// What the driving thread saw in the open dialog.
struct Seen {
    bool found = false;
    bool ownerDisabled = false;
    bool selected = false;
    bool okEnabled = false;
    std::vector<std::wstring> statics;
};

// Drives the dialog from a second thread: waits until it is up and filled,
// runs the step, then sends the button (IDOK, IDCANCEL, or 0 for the close
// box).  The dialog is always ended, so the test thread never hangs.
class Driver {
public:
    using Step = std::function<void(HWND dialog, HWND tree, Seen& seen)>;
    Driver(HWND owner, int button, Step step)
        : thread_([=, this] {
              HWND dialog = nullptr, tree = nullptr;
              seen.found = WaitFor([&] {
                  dialog = FindDialog();
                  tree = dialog ? GetDlgItem(dialog, kTreeId) : nullptr;
                  return tree && SendMessageW(tree, TVM_GETCOUNT, 0, 0) > 0;
              });
              if (!seen.found) return;
              seen.ownerDisabled = !IsWindowEnabled(owner);
              if (step) step(dialog, tree, seen);
              seen.okEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK));
              seen.statics = StaticTexts(dialog);
              // Pressed until the dialog is gone.
              WaitFor([&] {
                  if (!IsWindow(dialog)) return true;
                  if (button)
                      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
                  else
                      PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                  if (button == IDOK && !IsWindowEnabled(GetDlgItem(dialog, IDOK)))
                      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                  Sleep(200);
                  return !IsWindow(dialog);
              });
          }) {}
    ~Driver() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    Seen seen;

private:
    std::thread thread_;
};

// Sets the selection until the tree's caret shows the wanted label (the
// dialog may not take it on the first try).
Driver::Step Select(std::wstring path, std::wstring label) {
    return [=](HWND dialog, HWND tree, Seen& seen) {
        seen.selected = WaitFor([&] {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
            Sleep(200);
            return CaretLabel(tree).find(label) != std::wstring::npos;
        });
        // The status line follows the selection.
        WaitFor([&] { return HasText(StaticTexts(dialog), path); }, 5);
    };
}

class FolderPicker : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        owner = CreateWindowExW(0, L"STATIC", L"Picker owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(owner);
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root = std::wstring(temp) + L"OrvelleShell Picker " + std::to_wstring(GetCurrentProcessId());
        target = root + L"\\Target";
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW(target.c_str(), nullptr);
        // The shell names folders by their long path.
        wchar_t longPath[MAX_PATH];
        GetLongPathNameW(target.c_str(), longPath, MAX_PATH);
        target = longPath;
    }
    void TearDown() override {
        RemoveDirectoryW(target.c_str());
        RemoveDirectoryW(root.c_str());
        DestroyWindow(owner);
        CoUninitialize();
    }
    HWND owner = nullptr;
    std::wstring root, target;
};

}  // namespace

TEST_F(FolderPicker, ReturnsTheConfirmedFolderAndShowsTheTitle) {
    Driver driver(owner, IDOK, Select(target, L"Target"));
    std::wstring chosen = BrowseForFolder(owner, L"Please select folder:", L"");
    driver.join();
    ASSERT_TRUE(driver.seen.found);
    EXPECT_TRUE(driver.seen.selected);
    EXPECT_EQ(chosen, target);
    EXPECT_TRUE(HasText(driver.seen.statics, L"Please select folder:"));
    EXPECT_TRUE(HasText(driver.seen.statics, target)) << "no status line with the path";
    EXPECT_TRUE(driver.seen.ownerDisabled) << "the dialog is not modal to its owner";
    EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(FolderPicker, OpensAtTheStartFolder) {
    Driver driver(owner, IDOK, [](HWND, HWND tree, Seen& seen) {
        seen.selected = WaitFor([&] { return CaretLabel(tree) == L"Target"; }, 10);
    });
    std::wstring chosen = BrowseForFolder(owner, L"Report.docx is unsaved. Please select location:", target);
    driver.join();
    ASSERT_TRUE(driver.seen.found);
    EXPECT_TRUE(driver.seen.selected);
    EXPECT_EQ(chosen, target);
    EXPECT_TRUE(HasText(driver.seen.statics, L"Report.docx is unsaved. Please select location:"));
}

TEST_F(FolderPicker, CancelAndTheCloseBoxGiveEmptyText) {
    for (int button : {IDCANCEL, 0}) {
        Driver driver(owner, button, Select(target, L"Target"));
        std::wstring chosen = BrowseForFolder(owner, L"Please select folder:", target);
        driver.join();
        ASSERT_TRUE(driver.seen.found);
        EXPECT_EQ(chosen, L"") << "button " << button;
    }
}

TEST_F(FolderPicker, AVirtualFolderCannotBeConfirmed) {
    // "My Computer" has no file-system path (Wine's tree has no Control Panel).
    Driver driver(owner, IDOK, [](HWND dialog, HWND tree, Seen& seen) {
        PIDLIST_ABSOLUTE computer = nullptr;
        if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer))) return;
        SHFILEINFOW info{};
        SHGetFileInfoW(reinterpret_cast<LPCWSTR>(computer), 0, &info, sizeof info, SHGFI_PIDL | SHGFI_DISPLAYNAME);
        seen.selected = info.szDisplayName[0] && WaitFor([&] {
                            SendMessageW(dialog, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(computer));
                            Sleep(200);
                            return CaretLabel(tree) == info.szDisplayName;
                        });
        CoTaskMemFree(computer);
    });
    std::wstring chosen = BrowseForFolder(owner, L"Please select folder:", L"");
    driver.join();
    ASSERT_TRUE(driver.seen.found);
    ASSERT_TRUE(driver.seen.selected);
    EXPECT_FALSE(driver.seen.okEnabled);
    EXPECT_EQ(chosen, L"");
}
