// Loaded into a test program with LD_PRELOAD, it turns a rare crash into a failure every time.
// glibc's setenv may move the environment array while getenv on another thread walks it, and
// that getenv then reads freed memory: a crash once in hundreds of runs, when the timing
// falls just so. Here every environment write, and every read off the main thread, lasts a
// while, and an access that meets a conflicting one of another thread ends the program with
// a report. Accesses made through Qt (qputenv, qEnvironmentVariable...) share Qt's lock, so
// they never meet here.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

namespace {

// How long an access lasts: a read off the main thread (there are few) long enough to meet a
// write that follows it, a write (tests make many) long enough to meet a read that follows.
constexpr auto READ_HOLD = std::chrono::milliseconds(200);
constexpr auto WRITE_HOLD = std::chrono::milliseconds(50);

std::atomic<int> readers{0}; // reads in progress off the main thread
std::atomic<int> writers{0}; // writes in progress, on any thread

bool onMainThread() {
    return gettid() == getpid();
}

template <typename Function> Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void report(const char* access, const char* name) {
    char thread[16] = "";
    pthread_getname_np(pthread_self(), thread, sizeof thread);
    std::fprintf(stderr, "EnvRace: %s(\"%s\") on thread \"%s\" while another thread %s\n", access,
                 name ? name : "", thread,
                 readers > 0 ? "reads the environment" : "writes the environment");
    std::abort();
}

// Runs an access that lasts `hold` and counts in `active` meanwhile.
template <typename Access>
auto held(std::atomic<int>& active, std::chrono::milliseconds hold, Access access) {
    ++active;
    const auto result = access();
    std::this_thread::sleep_for(hold);
    --active;
    return result;
}

// A write meets any read or write in progress: the thread making it is not counted yet, so
// any count is another thread's.
template <typename Access> auto write(const char* access, const char* name, Access body) {
    if (readers > 0 || writers > 0)
        report(access, name);
    return held(writers, WRITE_HOLD, body);
}

} // namespace

extern "C" {

char* getenv(const char* name) {
    static const auto real = next<char* (*)(const char*)>("getenv");
    if (writers > 0)
        report("getenv", name);
    if (onMainThread())
        return real(name);
    return held(readers, READ_HOLD, [&] { return real(name); });
}

int setenv(const char* name, const char* value, int overwrite) {
    static const auto real = next<int (*)(const char*, const char*, int)>("setenv");
    return write("setenv", name, [&] { return real(name, value, overwrite); });
}

int unsetenv(const char* name) {
    static const auto real = next<int (*)(const char*)>("unsetenv");
    return write("unsetenv", name, [&] { return real(name); });
}

int putenv(char* text) {
    static const auto real = next<int (*)(char*)>("putenv");
    return write("putenv", text, [&] { return real(text); });
}

} // extern "C"
