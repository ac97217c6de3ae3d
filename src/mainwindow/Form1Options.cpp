// Form1's options: where and how backups are made, the start options, the
// housekeeping choices, the folder picker and help.
#include "mainwindow/Form1.h"

#include "common/Guard.h"
#include "common/MessageBox.h"
#include "common/Product.h"
#include "engine/BackupJournal.h"
#include "engine/Intervals.h"
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
    guard.step(1, [&] { folder = services_->BrowseForFolder(hwnd_, L"Please select folder:", L""); });
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

// Start-up putting the stored value into the box writes no Run entry; a
// user's click while start-up still waits for Word (its calls run the
// window's messages) is acted on, so the box never shows what is not stored.
void Form1::Check5_Click() {
    if (!LoadComplete && Check5.raisedByCode()) return;
    if (Check5.value()) {
        Check8.setVisible(true);
        SaveSetting(settings::kWindowsStartup, L"On");
        services_->AddToStartup();
    } else {
        Check8.setValue(false);  // its own click handler stores "Off"
        Check8.setVisible(false);
        SaveSetting(settings::kWindowsStartup, L"Off");
        services_->RemoveFromStartup();
    }
}

void Form1::Check8_Click() { SaveSetting(settings::kMinimized, Check8.value() ? L"On" : L"Off"); }

void Form1::Check9_Click() { SaveSetting(settings::kSkipUnchanged, Check9.value() ? L"On" : L"Off"); }

void Form1::Check10_Click() { SaveSetting(settings::kClipboardCopy, Check10.value() ? L"On" : L"Off"); }
void Form1::Check11_Click() { SaveSetting(settings::kClosedUnsaved, Check11.value() ? L"On" : L"Off"); }

// Off, Orvelle does not listen to Word at all; on, the next run connects.
void Form1::Check12_Click() {
    SaveSetting(settings::kLastMoment, Check12.value() ? L"On" : L"Off");
    if (!Check12.value()) listeners_.reset();
}

// Start-up's choice from the store is not written back: the store of a user
// who never touches the list stays as it was.  A user's choice during
// start-up is stored like any other.
void Form1::Combo1_Change() {
    if (!LoadComplete && Combo1.raisedByCode()) return;
    if (std::optional<int> index = Combo1.selectedIndex())
        SaveSetting(settings::kKeepBackups, kKeepChoices[*index].stored);
}

BackupOptions Form1::Options() const {
    const std::optional<int> keep = Combo1.selectedIndex();
    return {.saveToFixedFolder = Option1.value(),
            .saveBesideDocuments = Option2.value(),
            .fixedFolder = Text1.text(),
            .createNewFile = Option3.value(),
            .docExtension = DocExtensionValue,
            .historyFile = HistoryFileValue,
            .journalFile = DefaultJournalFile(),
            .owner = hwnd_,
            .skipUnchanged = Check9.value(),
            .keepBackupsDays = keep ? kKeepChoices[*keep].days : 0,
            .thinBackups = keep && kKeepChoices[*keep].thin,
            .clipboardCopy = Check10.value()};
}
