#include "platform/kernel.h"

#include <windows.h>

#include <new>

namespace platform {

Handle CreateEventA(bool manualReset, bool initialState) {
    return ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE,
                          nullptr);
}

bool SetEvent(Handle event) {
    return ::SetEvent(event) != 0;
}

bool ResetEvent(Handle event) {
    return ::ResetEvent(event) != 0;
}

uint32_t WaitForSingleObject(Handle event, uint32_t milliseconds) {
    if (event == nullptr) return kWaitFailed;
    return ::WaitForSingleObject(event, milliseconds);
}

bool CloseHandle(Handle event) {
    return ::CloseHandle(event) != 0;
}

static_assert(sizeof(LONG) == sizeof(int32_t), "LONG is a 32-bit word");

int32_t AtomicExchange(volatile int32_t* word, int32_t value) {
    return ::InterlockedExchange(reinterpret_cast<volatile LONG*>(word), value);
}

int32_t AtomicOr(volatile int32_t* word, int32_t bits) {
    return ::InterlockedOr(reinterpret_cast<volatile LONG*>(word), bits);
}

int32_t AtomicCompareExchange(volatile int32_t* word, int32_t value, int32_t expected) {
    return ::InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(word), value, expected);
}

int32_t AtomicRead(const volatile int32_t* word) {
    // An aligned 32-bit load is atomic on x86; the compare-exchange adds the
    // full barrier the interlocked family gives.
    return ::InterlockedCompareExchange(
        reinterpret_cast<volatile LONG*>(const_cast<volatile int32_t*>(word)), 0, 0);
}

namespace {

struct ThreadStart {
    ThreadProc proc;
    void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    return start.proc(start.argument);
}

}  // namespace

ThreadHandle StartThread(ThreadProc proc, void* argument) {
    ThreadStart* start = new (std::nothrow) ThreadStart{proc, argument};
    if (start == nullptr) return nullptr;
    DWORD id = 0;
    HANDLE thread = ::CreateThread(nullptr, 0, ThreadEntry, start, 0, &id);
    if (thread == nullptr) delete start;
    return thread;
}

// A thread's handle is signalled once the thread has left the process's
// code, its DLL detach notifications included.
uint32_t WaitForThread(ThreadHandle thread, uint32_t milliseconds) {
    if (thread == nullptr) return kWaitFailed;
    return ::WaitForSingleObject(thread, milliseconds);
}

bool CloseThread(ThreadHandle thread) {
    return thread != nullptr && ::CloseHandle(thread) != 0;
}

bool SetThreadPriority(int priority) {
    return ::SetThreadPriority(::GetCurrentThread(), priority) != 0;
}

int GetThreadPriority() {
    return ::GetThreadPriority(::GetCurrentThread());
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

bool PostMessageA(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return ::PostMessageA(static_cast<HWND>(window), message, wParam, lParam) != 0;
}

uint32_t GetModuleFileNameA(InstanceHandle instance, char* buffer, uint32_t size) {
    return ::GetModuleFileNameA(static_cast<HMODULE>(instance), buffer, size);
}

uint32_t GetFullPathNameA(const char* path, uint32_t size, char* buffer) {
    return ::GetFullPathNameA(path, size, buffer, nullptr);
}

}  // namespace platform
