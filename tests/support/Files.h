#pragma once
// Scratch folders and the files tests write and read.
#include <string>
#include <vector>

// A folder of its own under %TEMP%, removed with its content on destruction.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
    // Writes name as UTF-8 text (no BOM) and returns its full path.
    std::wstring write(const std::wstring& name, const std::wstring& text) const;

private:
    std::wstring path_;
};

// Both throw Failure when the file cannot be written or read.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
void WriteUtf8File(const std::wstring& path, const std::wstring& text);
// A file (a small one by default) last written minutesOld minutes ago; answers path.
std::wstring WriteAgedFile(const std::wstring& path, int minutesOld, const std::string& bytes = "x");
// Its last write set minutesOld minutes back (a read-only file too).
void AgeFile(const std::wstring& path, int minutesOld);
// The lines of a text file in the ANSI code page (the history file), each
// ended by CRLF; none when the file is absent.
std::vector<std::wstring> ReadAnsiLines(const std::wstring& path);

// A file or a folder of that name.
bool PathExists(const std::wstring& path);
// Names (not paths) of the files in folder that match pattern.
std::vector<std::wstring> FileNamesIn(const std::wstring& folder, const std::wstring& pattern = L"*");
// Every file and folder below path, and path itself; read-only files too.
void RemoveFolderTree(const std::wstring& path);
