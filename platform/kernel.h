// Kernel and window services of the plug-in shell, behind a seam so that the
// shell's logic builds and runs natively too. The win32 build forwards to the
// Win32 calls of the same names; the POSIX build has small twins with the
// same contracts (pthreads and std::atomic underneath).
//
// Events (auto- or manual-reset, unnamed):
//   CreateEventA(manualReset, initialState)  a new event, or null on failure
//   SetEvent, ResetEvent                      true on success
//   WaitForSingleObject(event, ms)            kWaitObject0 when it was
//                                             signalled (an auto-reset event
//                                             is reset by the wait), else
//                                             kWaitTimeout after ms (kWaitFailed
//                                             for a null event)
//   CloseHandle(event)                        frees it
// Words shared between threads (each one aligned 32-bit word):
//   AtomicExchange, AtomicOr                  return the previous value
//   AtomicCompareExchange(word, value, expected)
//                                             stores value when the word
//                                             holds expected; returns the
//                                             previous value
//   AtomicRead                                the current value
// Threads:
//   StartThread(proc, argument)               runs proc(argument) on a new
//                                             thread with the default stack;
//                                             its handle, kept until
//                                             CloseThread, or null when no
//                                             thread could be started
//   WaitForThread(thread, ms)                 kWaitObject0 once the thread
//                                             has ended (nothing of it runs
//                                             any more), else kWaitTimeout
//                                             after ms (kWaitFailed for a
//                                             null handle)
//   CloseThread(thread)                       frees the handle of an ended
//                                             thread (POSIX: joins it)
//   SetThreadPriority(priority)               the calling thread's priority,
//                                             -15 ... 15 as Win32 numbers them
//   GetThreadPriority()                       the calling thread's priority
//   Sleep(ms)
// Windows and modules:
//   PostMessageA(window, message, wParam, lParam)
//                                             queues a message for the window;
//                                             POSIX: hands it to the sink set
//                                             with SetPostMessageSink (false
//                                             when none is set)
//   GetModuleFileNameA(instance, buffer, size)
//                                             the module's own path, cut to
//                                             size - 1 characters; returns the
//                                             length written, size when it was
//                                             cut, 0 on failure. POSIX: a
//                                             non-null instance is the module's
//                                             path as NUL-terminated text, null
//                                             is the running program
//   GetFullPathNameA(path, size, buffer)      the absolute form of path; the
//                                             length written, or the size
//                                             needed (terminator included)
//                                             when it does not fit, 0 on
//                                             failure
#pragma once

#include <cstdint>

namespace platform {

using Handle = void*;          // an event; null = none
using WindowHandle = void*;    // a window; null = none
using InstanceHandle = void*;  // a loaded module

constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 0x102;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

Handle CreateEventA(bool manualReset, bool initialState);
bool SetEvent(Handle event);
bool ResetEvent(Handle event);
uint32_t WaitForSingleObject(Handle event, uint32_t milliseconds);
bool CloseHandle(Handle event);

int32_t AtomicExchange(volatile int32_t* word, int32_t value);
int32_t AtomicOr(volatile int32_t* word, int32_t bits);
int32_t AtomicCompareExchange(volatile int32_t* word, int32_t value, int32_t expected);
int32_t AtomicRead(const volatile int32_t* word);

using ThreadProc = uint32_t (*)(void* argument);
using ThreadHandle = void*;  // a started thread; null = none
ThreadHandle StartThread(ThreadProc proc, void* argument);
uint32_t WaitForThread(ThreadHandle thread, uint32_t milliseconds);
bool CloseThread(ThreadHandle thread);
bool SetThreadPriority(int priority);
int GetThreadPriority();
void Sleep(uint32_t milliseconds);

bool PostMessageA(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
uint32_t GetModuleFileNameA(InstanceHandle instance, char* buffer, uint32_t size);
uint32_t GetFullPathNameA(const char* path, uint32_t size, char* buffer);

#ifndef _WIN32
// Where PostMessageA delivers on POSIX; null to stop delivering.
using PostMessageSink = void (*)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam);
void SetPostMessageSink(PostMessageSink sink);
// Makes StartThread fail (a host out of threads), for tests.
void FailThreadStarts(bool fail);
// For tests: each thread lingers this long after its procedure has returned,
// as a thread does that returns through more code, before it counts as
// ended; and how many started threads have not ended yet.
void SlowThreadExits(uint32_t milliseconds);
int LiveThreads();
#endif

}  // namespace platform
