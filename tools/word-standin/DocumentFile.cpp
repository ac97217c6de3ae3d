// A saved document's file as Word keeps it while the document is open, and
// Word's way of saving over it.
#include "Objects.h"

#include "common/Failure.h"
#include "Docx.h"
#include "Errors.h"

#include <objbase.h>

#include <utility>

namespace {

// Word's owner file: "~$" over the name's first two characters ("Report.docx"
// gives "~$port.docx"), before a shorter stem.
std::wstring OwnerFileOf(const std::wstring& file) {
    const size_t slash = file.find_last_of(L'\\');
    std::wstring name = file.substr(slash + 1);
    const size_t dot = name.rfind(L'.'), stem = dot == std::wstring::npos ? name.size() : dot;
    name.erase(0, stem >= 8 ? 2 : stem == 7 ? 1 : 0);
    return file.substr(0, slash + 1) + L"~$" + name;
}

// What Word's owner file holds: who has the document open.
void WriteOwnerFile(const std::wstring& path) {
    wchar_t user[128] = L"user";
    DWORD size = static_cast<DWORD>(std::size(user));
    GetUserNameW(user, &size);
    std::string record(162, '\0');
    const std::wstring name(user);
    record[0] = static_cast<char>(std::min<size_t>(name.size(), 53));
    for (size_t i = 0; i < name.size() && i < 53; ++i) record[1 + i] = static_cast<char>(name[i] < 128 ? name[i] : '?');
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
}

// Word holds an open document's file with write access, sharing it for
// reading only; a file it may not write (read-only, on read-only media) it
// holds for reading.
UniqueFile OpenHeld(const std::wstring& path, bool& writable) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    writable = static_cast<bool>(file);
    if (!file)
        file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    return file;
}

}  // namespace

Document::~Document() {
    releaseFile();
    if (frame_) DestroyWindow(frame_);
}

size_t Document::workBytes(DISPID id) const {
    if (id != 553) return 0;  // WordOpenXML: the package it builds
    size_t bytes = 0;
    for (const PackagePart& part : parts()) bytes += part.data.size();
    return bytes;
}

void Document::holdFile() {
    if (file_.empty()) return;
    bool writable = false;
    held_ = OpenHeld(file_, writable);
    if (writable) {
        ownerFile_ = OwnerFileOf(file_);
        WriteOwnerFile(ownerFile_);
    }
    // A document on the web is known by its address, not by a file moniker.
    // Kept alive by the table: a weak registration cannot be bound (Wine 8
    // answers S_FALSE) by a process that already holds a proxy of it.
    ComPtr<IRunningObjectTable> table;
    ComPtr<IMoniker> moniker;
    if (traits_.location.empty() && SUCCEEDED(GetRunningObjectTable(0, &table)) &&
        SUCCEEDED(CreateFileMoniker(file_.c_str(), &moniker)) &&
        FAILED(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, static_cast<IDispatch*>(this), moniker.Get(), &rotCookie_)))
        rotCookie_ = 0;
}

void Document::releaseFile() {
    held_.reset();
    if (!ownerFile_.empty()) DeleteFileW(std::exchange(ownerFile_, {}).c_str());
    ComPtr<IRunningObjectTable> table;
    if (rotCookie_ && SUCCEEDED(GetRunningObjectTable(0, &table))) table->Revoke(rotCookie_);
    rotCookie_ = 0;
}

void Document::save() {
    if (file_.empty()) throw WordError(4198, L"The stand-in cannot ask where to save a new document: use SaveAs.");
    // Word's way: the package goes to a temporary file beside the document,
    // the old file is deleted and the temporary file takes its name.  A
    // reader that does not share deletion fails the save; one that does keeps
    // reading the old file, whose name stays taken until it lets go: the
    // rename is retried.
    const std::wstring folder = file_.substr(0, file_.find_last_of(L'\\') + 1);
    wchar_t temp[MAX_PATH * 2];
    if (!GetTempFileNameW(folder.c_str(), L"~WR", 0, temp))
        throw WordError(kErrorCannotSave, L"Word cannot save or create this file. " +
                                              SystemMessage(HRESULT_FROM_WIN32(GetLastError())) + L" (" + file_ + L")");
    try {
        WriteDocx(temp, parts());
    } catch (...) {
        DeleteFileW(temp);
        throw;
    }
    held_.reset();
    DWORD error = DeleteFileW(file_.c_str()) ? 0 : GetLastError();
    bool renamed = false;
    for (ULONGLONG end = GetTickCount64() + 5000; !renamed && error == 0 && GetTickCount64() < end;) {
        renamed = MoveFileExW(temp, file_.c_str(), 0) != 0;
        if (!renamed) Sleep(10);
    }
    if (!renamed && error == 0) error = GetLastError();
    if (!renamed) DeleteFileW(temp);
    bool writable = false;
    held_ = OpenHeld(file_, writable);
    if (!renamed)
        throw WordError(kErrorCannotSave, L"Word cannot save or create this file. " +
                                              SystemMessage(HRESULT_FROM_WIN32(error)) + L" (" + file_ + L")");
    savedContent_ = content_;
    saved_ = true;
}
