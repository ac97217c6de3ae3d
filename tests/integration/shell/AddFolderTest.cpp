// The real folder dialog: BrowseForFolder runs on the test thread while a
// second thread finds the dialog, drives it and presses a button, as a
// user would.
#include "shell/AddFolder.h"
#include "support/ComApartment.h"
#include "support/Files.h"
#include "support/FolderDialog.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

using namespace folder_dialog;

namespace {

class FolderPicker : public ::testing::Test {
protected:
    void SetUp() override {
        owner = CreateWindowExW(0, L"STATIC", L"Picker owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(owner);
        target = scratch.file(L"Target");
        CreateDirectoryW(target.c_str(), nullptr);
        // The shell names folders by their long path.
        wchar_t longPath[MAX_PATH];
        GetLongPathNameW(target.c_str(), longPath, MAX_PATH);
        target = longPath;
    }
    void TearDown() override { DestroyWindow(owner); }

    ComApartment com;
    ScratchFolder scratch;
    HWND owner = nullptr;
    std::wstring target;
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
        seen.selected = WaitFor([&] { return CaretLabel(tree) == L"Target"; }, std::chrono::seconds(10), Millis(50));
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
        auto selectComputer = [&] {
            SendMessageW(dialog, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(computer));
            Sleep(200);
            return CaretLabel(tree) == info.szDisplayName;
        };
        seen.selected = info.szDisplayName[0] && WaitFor(selectComputer, std::chrono::seconds(15), Millis(50));
        CoTaskMemFree(computer);
    });
    std::wstring chosen = BrowseForFolder(owner, L"Please select folder:", L"");
    driver.join();
    ASSERT_TRUE(driver.seen.found);
    ASSERT_TRUE(driver.seen.selected);
    EXPECT_FALSE(driver.seen.okEnabled);
    EXPECT_EQ(chosen, L"");
}
