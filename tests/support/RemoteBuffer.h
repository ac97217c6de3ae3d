#pragma once
// A block of memory in the process that owns a window, for the messages
// whose parameters point at structures (list view rectangles, tooltip
// records, tree items): a pointer into the test's own memory means nothing
// there.
#include <windows.h>

#include <cstddef>

class RemoteBuffer {
public:
    // Throws Failure when the process cannot be opened or the memory not had.
    RemoteBuffer(HWND owner, size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    void* Ptr(size_t offset = 0) const { return static_cast<char*>(base_) + offset; }
    LPARAM Param(size_t offset = 0) const { return reinterpret_cast<LPARAM>(Ptr(offset)); }
    void Write(const void* data, size_t size, size_t offset = 0);
    void Read(void* data, size_t size, size_t offset = 0) const;

private:
    HANDLE process_ = nullptr;
    void* base_ = nullptr;
};
