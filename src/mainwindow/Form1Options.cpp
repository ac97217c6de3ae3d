// Form1's options: where and how backups are made, the start options, the
// housekeeping choices, the folder picker and help.
#include "mainwindow/Form1.h"

#include "common/Guard.h"
#include "common/MessageBox.h"
#include "common/Product.h"
#include "mainwindow/Settings.h"

void Form1::Option1_Click() { SaveSetting(settings::kWhereOption, L"1"); }
void Form1::Option2_Click() { SaveSetting(settings::kWhereOption, L"2"); }
void Form1::Option3_Click() { SaveSetting(settings::kBackupOption, L"1"); }
void Form1::Option4_Click() { SaveSetting(settings::kBackupOption, L"2"); }

void Form1::Text1_Change() { SaveSetting(settings::kPath, Text1.text()); }

void Form1::Text1_GotFocus() { Text1.setSelection(0, static_cast<int>(Text1.text().size())); }

void Form1::PushButton1_Click() {
    Guard guard(L"Form1", L"PushButton1_Click");
    std::wstring folder;
    guard.step(1, [&] { folder = services_.browseForFolder(hwnd_, L"Please select folder:", L""); });
    if (guard.test(2, [&] { return folder.empty(); })) return;
    guard.step(3, [&] { Text1.setText(folder); });
}

void Form1::PushButton11_Click() {
    Guard guard(L"Form1", L"PushButton11_Click");
    guard.step(1, [&] {
        ShowMessageBox(hwnd_, L"Questions? Please contact Team Kelvane at " + std::wstring(product::kContactPage),
                       std::nullopt, MB_OK);
    });
}

void Form1::ListView1_Click() {
    std::optional<int> index = ListView1.selectedIndex();
    if (!index) {
        // A click beside the items clears the selection; keep the interval
        // the user had instead of leaving the countdown without one.
        if (lastSelected_ >= 0 && lastSelected_ < ListView1.count()) ListView1.select(lastSelected_);
        return;
    }
    SaveSetting(settings::kOftenIndex, std::to_wstring(*index + 1));
    IntervalSeconds = GetIntervalSeconds(ListView1.selectedText());
    ElapsedSeconds = 0;
}

void Form1::Check5_Click() {
    if (!LoadComplete) return;
    if (Check5.value()) {
        Check8.setVisible(true);
        SaveSetting(settings::kWindowsStartup, L"On");
        services_.addToStartup();
    } else {
        Check8.setValue(false);  // its own click handler stores "Off"
        Check8.setVisible(false);
        SaveSetting(settings::kWindowsStartup, L"Off");
        services_.removeFromStartup();
    }
}

void Form1::Check8_Click() { SaveSetting(settings::kMinimized, Check8.value() ? L"On" : L"Off"); }

void Form1::Check9_Click() { SaveSetting(settings::kSkipUnchanged, Check9.value() ? L"On" : L"Off"); }

void Form1::Check10_Click() { SaveSetting(settings::kClipboardCopy, Check10.value() ? L"On" : L"Off"); }

// Start-up's choice from the store is not written back: the store of a user
// who never touches the list stays as it was.
void Form1::Combo1_Change() {
    if (!LoadComplete) return;
    if (std::optional<int> index = Combo1.selectedIndex())
        SaveSetting(settings::kKeepBackups, std::to_wstring(kKeepChoices[*index].days));
}

int Form1::KeepBackupsDays() const {
    std::optional<int> index = Combo1.selectedIndex();
    return index ? kKeepChoices[*index].days : 0;
}
