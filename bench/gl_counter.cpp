// An LD_PRELOAD library for bench/measure_wayland.sh: writes one line per glReadPixels call
// ("R <microseconds> <width> <height>") and per buffer swap ("S <microseconds>") to the file that
// LUMIVANE_GL_COUNT names, with the monotonic clock, so that the benchmark counts whole-frame
// read-backs and times the swaps from outside the program. Calls through a pointer that
// eglGetProcAddress or glXGetProcAddress handed out are counted too.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using ReadPixels = void (*)(int, int, int, int, unsigned, unsigned, void*);
using EglSwap = unsigned (*)(void*, void*);
using GlxSwap = void (*)(void*, void*);
using GetProc = void* (*)(const char*);

int logFile = -1;
pthread_once_t opened = PTHREAD_ONCE_INIT;

void openLog()
{
    if (const char* path = std::getenv("LUMIVANE_GL_COUNT"))
        logFile = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

long nowMicros()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000L + now.tv_nsec / 1000;
}

// One line, written at once so that lines from several threads do not mix.
void note(char kind, long width = -1, long height = -1)
{
    pthread_once(&opened, openLog);
    if (logFile < 0)
        return;
    char line[96];
    const int length = width < 0 ? std::snprintf(line, sizeof line, "%c %ld\n", kind, nowMicros())
                                 : std::snprintf(line, sizeof line, "%c %ld %ld %ld\n", kind,
                                                 nowMicros(), width, height);
    if (length > 0 && write(logFile, line, std::size_t(length)) < 0)
        logFile = -1;
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

void glReadPixels(int x, int y, int width, int height, unsigned format, unsigned type, void* data)
{
    static const auto real = next<ReadPixels>("glReadPixels");
    note('R', width, height);
    real(x, y, width, height, format, type, data);
}

unsigned eglSwapBuffers(void* display, void* surface)
{
    static const auto real = next<EglSwap>("eglSwapBuffers");
    note('S');
    return real(display, surface);
}

void glXSwapBuffers(void* display, void* drawable)
{
    static const auto real = next<GlxSwap>("glXSwapBuffers");
    note('S');
    real(display, drawable);
}

static void* lookUp(const char* function, const char* name)
{
    if (std::strcmp(name, "glReadPixels") == 0)
        return reinterpret_cast<void*>(&glReadPixels);
    const auto real = next<GetProc>(function);
    return real ? real(name) : nullptr;
}

void* eglGetProcAddress(const char* name)
{
    return lookUp("eglGetProcAddress", name);
}

void* glXGetProcAddress(const char* name)
{
    return lookUp("glXGetProcAddress", name);
}

void* glXGetProcAddressARB(const char* name)
{
    return lookUp("glXGetProcAddressARB", name);
}

} // extern "C"
