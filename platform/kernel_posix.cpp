// Portable twins of the kernel services: events on a mutex and a condition
// variable, words through the compiler's atomic built-ins, joinable pthreads
// whose end is signalled like an event's.
#include "platform/kernel.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace platform {

namespace {

struct Event {
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset;
    bool signalled;
};

Event* AsEvent(Handle event) {
    return static_cast<Event*>(event);
}

std::atomic<PostMessageSink> postMessageSink{nullptr};
std::atomic<bool> threadStartsFail{false};
std::atomic<uint32_t> threadExitMs{0};
std::atomic<int> liveThreads{0};
thread_local int threadPriority = 0;

// A started thread; the handle is this record, freed by CloseThread.
struct Thread {
    pthread_t id;
    ThreadProc proc;
    void* argument;
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;  // the procedure has returned and the thread is leaving
};

Thread* AsThread(ThreadHandle thread) {
    return static_cast<Thread*>(thread);
}

void* ThreadEntry(void* parameter) {
    Thread* thread = static_cast<Thread*>(parameter);
    thread->proc(thread->argument);
    const uint32_t lingerMs = threadExitMs.load();
    if (lingerMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
    liveThreads.fetch_sub(1);
    // Notified under the lock; the record outlives this call, since
    // CloseThread joins before freeing it.
    std::lock_guard<std::mutex> hold(thread->lock);
    thread->ended = true;
    thread->changed.notify_all();
    return nullptr;
}

// Copies `text` into `buffer` (`size` bytes) as GetModuleFileNameA does: cut
// to size - 1 characters, returning size when cut.
uint32_t CopyCut(const char* text, char* buffer, uint32_t size) {
    if (size == 0) return 0;
    size_t length = std::strlen(text);
    if (length >= size) {
        std::memcpy(buffer, text, size - 1);
        buffer[size - 1] = '\0';
        return size;
    }
    std::memcpy(buffer, text, length + 1);
    return static_cast<uint32_t>(length);
}

}  // namespace

Handle CreateEventA(bool manualReset, bool initialState) {
    Event* event = new (std::nothrow) Event;
    if (event == nullptr) return nullptr;
    event->manualReset = manualReset;
    event->signalled = initialState;
    return event;
}

bool SetEvent(Handle handle) {
    Event* event = AsEvent(handle);
    if (event == nullptr) return false;
    // Notified under the lock: CloseHandle takes the lock before freeing, so
    // an event closed right after a waiter saw it set is never freed while
    // this call still uses it.
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = true;
    event->changed.notify_all();
    return true;
}

bool ResetEvent(Handle handle) {
    Event* event = AsEvent(handle);
    if (event == nullptr) return false;
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = false;
    return true;
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
    Event* event = AsEvent(handle);
    if (event == nullptr) return kWaitFailed;
    std::unique_lock<std::mutex> hold(event->lock);
    // A zero timeout only looks: a timed wait on a condition variable would
    // switch the thread out even for a time already past.
    bool signalled = milliseconds == 0
                         ? event->signalled
                         : event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                                   [event] { return event->signalled; });
    if (!signalled) return kWaitTimeout;
    if (!event->manualReset) event->signalled = false;
    return kWaitObject0;
}

bool CloseHandle(Handle handle) {
    Event* event = AsEvent(handle);
    if (event == nullptr) return false;
    { std::lock_guard<std::mutex> hold(event->lock); }
    delete event;
    return true;
}

int32_t AtomicExchange(volatile int32_t* word, int32_t value) {
    return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}

int32_t AtomicOr(volatile int32_t* word, int32_t bits) {
    return __atomic_fetch_or(word, bits, __ATOMIC_SEQ_CST);
}

int32_t AtomicCompareExchange(volatile int32_t* word, int32_t value, int32_t expected) {
    __atomic_compare_exchange_n(word, &expected, value, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return expected;
}

int32_t AtomicRead(const volatile int32_t* word) {
    return __atomic_load_n(word, __ATOMIC_SEQ_CST);
}

ThreadHandle StartThread(ThreadProc proc, void* argument) {
    if (threadStartsFail.load()) return nullptr;
    Thread* thread = new (std::nothrow) Thread;
    if (thread == nullptr) return nullptr;
    thread->proc = proc;
    thread->argument = argument;
    liveThreads.fetch_add(1);
    if (pthread_create(&thread->id, nullptr, ThreadEntry, thread) != 0) {
        liveThreads.fetch_sub(1);
        delete thread;
        return nullptr;
    }
    return thread;
}

uint32_t WaitForThread(ThreadHandle handle, uint32_t milliseconds) {
    Thread* thread = AsThread(handle);
    if (thread == nullptr) return kWaitFailed;
    std::unique_lock<std::mutex> hold(thread->lock);
    bool ended = milliseconds == 0
                     ? thread->ended
                     : thread->changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                                [thread] { return thread->ended; });
    return ended ? kWaitObject0 : kWaitTimeout;
}

bool CloseThread(ThreadHandle handle) {
    Thread* thread = AsThread(handle);
    if (thread == nullptr) return false;
    const bool joined = pthread_join(thread->id, nullptr) == 0;
    delete thread;
    return joined;
}

// Priorities are recorded, not applied: an ordinary user may not raise them.
bool SetThreadPriority(int priority) {
    threadPriority = priority;
    return true;
}

int GetThreadPriority() {
    return threadPriority;
}

void Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool PostMessageA(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    PostMessageSink sink = postMessageSink.load();
    if (sink == nullptr) return false;
    sink(window, message, wParam, lParam);
    return true;
}

void SetPostMessageSink(PostMessageSink sink) {
    postMessageSink.store(sink);
}

void FailThreadStarts(bool fail) {
    threadStartsFail.store(fail);
}

void SlowThreadExits(uint32_t milliseconds) {
    threadExitMs.store(milliseconds);
}

int LiveThreads() {
    return liveThreads.load();
}

uint32_t GetModuleFileNameA(InstanceHandle instance, char* buffer, uint32_t size) {
    if (instance != nullptr) return CopyCut(static_cast<const char*>(instance), buffer, size);
    char own[4096];
    ssize_t length = readlink("/proc/self/exe", own, sizeof own - 1);
    if (length <= 0) return 0;
    own[length] = '\0';
    return CopyCut(own, buffer, size);
}

uint32_t GetFullPathNameA(const char* path, uint32_t size, char* buffer) {
    if (path == nullptr || path[0] == '\0') return 0;
    std::string full;
    if (path[0] != '/') {
        char here[4096];
        if (getcwd(here, sizeof here) == nullptr) return 0;
        full = here;
        full += '/';
    }
    full += path;
    if (full.size() + 1 > size) return static_cast<uint32_t>(full.size() + 1);
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    return static_cast<uint32_t>(full.size());
}

}  // namespace platform
