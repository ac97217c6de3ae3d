#include "support/RemoteBuffer.h"

#include "common/Failure.h"

RemoteBuffer::RemoteBuffer(HWND owner, size_t size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process_) throw Failure::FromLastError();
    base_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!base_) {
        Failure failure = Failure::FromLastError();
        CloseHandle(process_);
        throw failure;
    }
}

RemoteBuffer::~RemoteBuffer() {
    VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    CloseHandle(process_);
}

void RemoteBuffer::Write(const void* data, size_t size, size_t offset) {
    if (!WriteProcessMemory(process_, Ptr(offset), data, size, nullptr)) throw Failure::FromLastError();
}

void RemoteBuffer::Read(void* data, size_t size, size_t offset) const {
    if (!ReadProcessMemory(process_, Ptr(offset), data, size, nullptr)) throw Failure::FromLastError();
}
