// Form1's start-up: Form_Load.
#include "mainwindow/Form1.h"

#include "common/Dpi.h"
#include "common/Failure.h"
#include "common/Guard.h"
#include "common/IsInstalled.h"
#include "common/Main.h"
#include "common/MessageBox.h"
#include "common/Product.h"
#include "engine/Intervals.h"
#include "engine/RecoveredCopies.h"
#include "engine/WordProbes.h"
#include "mainwindow/Form1Layout.h"
#include "mainwindow/Policies.h"
#include "mainwindow/Settings.h"
#include "resources/Resource.h"

using namespace form1;

namespace {

constexpr wchar_t kIntervalHeader[] = L"How often would you like to backup all open MS Word documents?";

// The position in the "keep backups for" list of a stored value.
int KeepChoiceIndex(const std::wstring& stored) {
    for (size_t i = 0; i < std::size(kKeepChoices); ++i)
        if (stored == kKeepChoices[i].stored) return static_cast<int>(i);
    return 0;
}

void DisableManagedControls(Form1& form) {
    for (const policy::Row& row : policy::kPolicies)
        if (IsManaged(row.name))
            for (int id : row.controls)
                if (Control* control = form.ControlById(id)) EnableWindow(control->hwnd(), FALSE);
}

std::wstring Environ(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), n));
    return value;
}

}  // namespace

void Form1::Form_Load() {
    Guard guard(L"Form1", L"Form_Load");
    // The statements of start-up step k are numbered from 10 k: a report
    // "at line 90" comes from step 9, the stored interval position.

    // 1. A second instance of the same user ends at once, silently.
    if (guard.test(10, [&] {
            instanceMutex_.reset(CreateMutexW(nullptr, FALSE, services_->InstanceName().c_str()));
            return GetLastError() == ERROR_ALREADY_EXISTS;
        })) {
        EndProcess(0);
        return;
    }
    ListenForInstaller();

    // 2. The optional skin, then about one start in a hundred the home page.
    guard.step(20, [&] { ApplySkin(*this); });
    int draw = 0;
    guard.step(21, [&] { draw = services_->DrawPercent(); });
    // An administrator may turn the visit off.
    if (guard.test(22, [&] { return draw == 7 && policy::Value(policy::kHomePage) != L"Off"; }))
        guard.step(23, [&] {
            services_->StartCommand(L"explorer \"" + std::wstring(product::kHomePage) + L"\"", SW_SHOWMINIMIZED);
        });

    // 3. Caption and icon.
    guard.step(30, [&] { if (!SetWindowTextW(hwnd_, product::kTitle)) throw Failure::FromLastError(); });
    guard.step(31, [&] { SetWindowIcons(); });

    // 4. The caption of message boxes.
    guard.step(40, [&] { SetApplicationTitle(); });

    RestoreLocationAndInterval(guard);

    RestoreBackupChoices(guard);

    // 12. Show.
    guard.step(120, [&] {
        if (!shownOnce_) CenterOnScreen();
        shownOnce_ = true;
        ShowWindow(hwnd_, SW_SHOW);
        UpdateWindow(hwnd_);
    });

    // 13. The icon stays in the tray for the whole run.
    guard.step(130, [&] { cSysTray1->SetInTray(true); });
    guard.step(131, [&] { cSysTray1->SetTrayTip(product::kTitle); });

    RestoreStartOptions(guard);

    // 17. Without Word there is nothing to do: the check has told the user.
    // The icon goes first, or a dead one would stay in the tray.
    bool wordAvailable = true;
    guard.step(170, [&] { wordAvailable = services_->CheckWordAvailable(); });
    if (!wordAvailable) {
        cSysTray1->SetInTray(false);
        EndProcess(0);
        return;
    }

    // 18. The backup extension from Word's version.
    double version = 0;
    guard.step(180, [&] { version = services_->GetWordVersion(); });
    guard.step(181, [&] { DocExtensionValue = DocExtensionFor(version); });

    // 19. The history file.
    guard.step(190, [&] {
        HistoryFileValue =
            Environ(L"TEMP") + L"\\" + StripFileNameChars(RemoveLastWord(product::kTitle, L"Software")) + L".txt";
    });

    // Copies of protected backups that Word let go of while Orvelle was not running.
    RemoveReleasedCopies();

    LoadHandCursor(guard);

    // 21.
    guard.step(210, [&] { LoadComplete = true; });
}

void Form1::SetWindowIcons() {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    int big = SystemMetricForDpi(SM_CXICON, dpi_), small = SystemMetricForDpi(SM_CXSMICON, dpi_);
    auto load = [&](int size) {
        return UniqueIcon(static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORVELLE), IMAGE_ICON, size, size, 0)));
    };
    UniqueIcon bigIcon = load(big), smallIcon = load(small);
    if (!bigIcon || !smallIcon) throw Failure::FromLastError();
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    // The window's old icons go only once it no longer shows them.
    bigIcon_ = std::move(bigIcon);
    smallIcon_ = std::move(smallIcon);
}

void Form1::RestoreLocationAndInterval(Guard& guard) {
    // 5.-6. The backup location.
    guard.step(50, [&] { Text1.setText(ChosenSetting(settings::kPath, GetDesktopFolder())); });
    if (guard.test(60, [&] { return ChosenSetting(settings::kWhereOption, L"1") == L"1"; }))
        guard.step(61, [&] { Option1.setValue(true); });
    else
        guard.step(62, [&] { Option2.setValue(true); });

    // 7.-9. The interval list and its stored position.
    guard.step(70, [&] { ListView1.addColumn(kIntervalHeader, TwipsToPixels(kColumnWidthTwips, dpi_)); });
    guard.step(71, [&] { ListView1.setColumnWidth(TwipsToPixels(kColumnWidthTwips, dpi_)); });
    for (const auto& interval : kIntervals) guard.step(80, [&] { ListView1.addItem(interval.text); });
    guard.step(90, [&] {
        short position = ToInteger16(ChosenSetting(settings::kOftenIndex, L"3"));
        if (position < 1 || position > ListView1.count()) throw Failure::IndexOutOfBounds();
        ListView1.select(position - 1);
    });
}

void Form1::RestoreBackupChoices(Guard& guard) {
    // 10. The switch: exactly "Off" or "On"; anything else keeps the design.
    std::wstring backupSwitch;
    guard.step(100, [&] { backupSwitch = ChosenSetting(settings::kBackupSwitch, L"On"); });
    if (guard.test(101, [&] { return backupSwitch == L"Off"; })) {
        guard.step(102, [&] { PushButton4.setCaption(kTurnOn); });
        guard.step(103, [&] { ShowStatus(L"Auto Save is Turned Off."); });
        guard.step(104, [&] { Timer1.setInterval(0); });
    } else if (guard.test(105, [&] { return backupSwitch == L"On"; })) {
        guard.step(106, [&] { PushButton4.setCaption(kTurnOff); });
        guard.step(107, [&] { Timer1.setInterval(1000); });
    }

    // 11. New file or overwrite, by the stored value's leading number.
    double backupOption = 0;
    guard.step(110, [&] { backupOption = LeadingNumber(ChosenSetting(settings::kBackupOption)); });
    if (guard.test(111, [&] { return backupOption == 1; }))
        guard.step(112, [&] { Option3.setValue(true); });
    else if (guard.test(113, [&] { return backupOption == 2; }))
        guard.step(114, [&] { Option4.setValue(true); });
    else
        guard.step(115, [&] { Option3.setValue(true); });
    // The housekeeping choices: whether an unchanged document is skipped,
    // and how long new-file backups are kept (an unknown value keeps all).
    guard.step(116, [&] { Check9.setValue(ChosenSetting(settings::kSkipUnchanged, L"Off") == L"On"); });
    guard.step(117, [&] {
        for (const auto& choice : kKeepChoices) Combo1.addItem(choice.text);
    });
    guard.step(118, [&] { Combo1.select(KeepChoiceIndex(ChosenSetting(settings::kKeepBackups, L"0"))); });
    // How documents are copied: the package way unless the user chose the
    // clipboard.
    guard.step(119, [&] { Check10.setValue(ChosenSetting(settings::kClipboardCopy, L"Off") == L"On"); });
    // On unless the user turned it off.
    guard.step(121, [&] { Check11.setValue(ChosenSetting(settings::kClosedUnsaved, L"On") != L"Off"); });
    guard.step(122, [&] { Check12.setValue(ChosenSetting(settings::kLastMoment, L"On") != L"Off"); });
    // What an administrator set shows greyed.
    guard.step(123, [&] { DisableManagedControls(*this); });
}

void Form1::RestoreStartOptions(Guard& guard) {
    // 14.-16. The two start options; "Start in system tray" hides the window
    // into the tray through the resize handler.
    guard.step(140, [&] { Check5.setValue(ChosenSetting(settings::kWindowsStartup, L"Off") == L"On"); });
    // A managed start entry is made to agree with the policy at every start,
    // as the user's click would.
    if (guard.test(141, [&] { return IsManaged(settings::kWindowsStartup); }))
        guard.step(142, [&] { Check5.value() ? services_->AddToStartup() : services_->RemoveFromStartup(); });
    guard.step(150, [&] { Check8.setValue(ChosenSetting(settings::kMinimized, L"Off") == L"On"); });
    if (guard.test(160, [&] { return Check8.value(); })) guard.step(161, [&] { ShowWindow(hwnd_, SW_MINIMIZE); });
}

void Form1::LoadHandCursor(Guard& guard) {
    // 20. The optional hand cursor beside the program.
    const std::wstring cursorFile = ProgramFolder() + L"\\HAND-M.CUR";
    if (guard.test(200, [&] { return FileExists(cursorFile); }))
        guard.step(201, [&] {
            UniqueCursor cursor(LoadCursorFromFileW(cursorFile.c_str()));
            if (!cursor) throw Failure::FromLastError();
            handCursor_ = std::move(cursor);
        });
}
