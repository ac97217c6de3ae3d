// Form1's history buttons: View, Copy and Clear.
#include "mainwindow/Form1.h"

#include "backupswindow/BackupsWindow.h"
#include "common/ClipboardLock.h"
#include "common/Failure.h"
#include "common/Guard.h"
#include "common/Handle.h"
#include "common/IsInstalled.h"
#include "common/MessageBox.h"
#include "common/Text.h"
#include "mainwindow/Settings.h"

#include <cstring>
#include <optional>

namespace {

// The history file's text, from the ANSI code page, with every line break
// written CR LF, as the rich edit control that used to load it gave it back.
std::wstring ReadHistoryText(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw Failure::FromLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) throw Failure::FromLastError();
    if (size.QuadPart > LONGLONG{0x7FFFFFFF} / LONGLONG{sizeof(wchar_t)}) throw Failure::Text(L"The history file is too large to copy.");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    // A line appended meanwhile may make the file longer: what was there is copied.
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        throw Failure::FromLastError();
    bytes.resize(read);
    const std::wstring text = FromAnsi(bytes);
    std::wstring lines;
    lines.reserve(text.size() + text.size() / 64);
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            lines += L"\r\n";
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            lines += c;
        }
    }
    return lines;
}

// The text as the clipboard's Unicode text (the system offers it as ANSI and
// OEM text too).  Windows' rule for SetClipboardData: after EmptyClipboard a
// clipboard opened without an owner window refuses data (Wine accepts it),
// so it is opened with the window.  Another program may hold it for a moment.
void PutTextOnClipboard(HWND owner, const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal data(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!data) throw Failure::FromLastError();
    void* copy = GlobalLock(data.get());
    if (!copy) throw Failure::FromLastError();
    std::memcpy(copy, text.c_str(), bytes);
    GlobalUnlock(data.get());
    std::optional<ClipboardLock> clipboard;
    try {
        clipboard.emplace(owner);
    } catch (const Failure&) {
        throw Failure::Text(L"The clipboard is in use by another program. Please try again in a moment.");
    }
    // Once handed over, the data is the system's; until then it is ours.
    if (!EmptyClipboard() || !SetClipboardData(CF_UNICODETEXT, data.get())) throw Failure::FromLastError();
    data.release();
}

}  // namespace

void Form1::PushButton3_Click() {
    Guard guard(L"Form1", L"PushButton3_Click");
    if (guard.test(1, [&] { return FileExists(HistoryFileValue); }))
        guard.step(2, [&] { services_->StartCommand(L"notepad \"" + HistoryFileValue + L"\"", SW_SHOWNORMAL); });
    else
        guard.step(3, [&] {
            ShowMessageBox(hwnd_, L"There isn't a history to view because actions have not been performed yet.",
                           std::nullopt, MB_OK);
        });
}

// The text goes to the clipboard directly: loaded into the rich edit box and
// copied from there it took about 10 s per MB under Wine, with the window
// frozen, for a file that grows without limit.  historyCopy_ holds what the
// box held, so that a file that cannot be read copies the earlier text.
void Form1::PushButton5_Click() {
    Guard guard(L"Form1", L"PushButton5_Click");
    if (guard.test(1, [&] { return !FileExists(HistoryFileValue); })) return;
    guard.step(2, [&] { historyCopy_ = ReadHistoryText(HistoryFileValue); });
    // An empty selection copies nothing.
    if (!historyCopy_.empty()) guard.step(4, [&] { PutTextOnClipboard(hwnd_, historyCopy_); });
}

void Form1::PushButton12_Click() {
    Guard guard(L"Form1", L"PushButton12_Click");
    int answer = IDNO;
    guard.step(1, [&] {
        answer = ShowMessageBox(hwnd_, L"Are you sure you want to delete the history log and start over?",
                                std::nullopt, MB_YESNO);
    });
    // Only an explicit Yes deletes.
    if (answer == IDYES) guard.step(2, [&] { RemoveFile(HistoryFileValue); });
}

void Form1::PushButton13_Click() {
    Guard guard(L"Form1", L"PushButton13_Click");
    guard.step(1, [&] { ShowBackupsWindow(); });
}

void Form1::ShowBackupsWindow(const std::wstring& atBackup) {
    if (!backups_) backups_ = std::make_unique<BackupsWindow>(HistoryFileValue, GetBackupFolders);
    if (atBackup.empty())
        backups_->Show();
    else
        backups_->ShowDocumentOf(atBackup);
}

bool Form1::BackupsDialogMessage(MSG& msg) { return backups_ && backups_->TranslateDialogMessage(msg); }
