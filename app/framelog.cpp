#include "app/framelog.h"

#include "app/translation.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

std::unique_ptr<FrameLog> FrameLog::fromEnvironment()
{
    const char* path = std::getenv("LUMIVANE_FRAME_LOG");
    if (path == nullptr || *path == '\0')
        return nullptr;
    auto log = std::make_unique<FrameLog>(path);
    if (!log->isOpen()) {
        const std::string reason = std::strerror(errno);
        std::fprintf(
            stderr, "lumivane: %s\n",
            Console::fill(Console::tr("cannot open the frame log %1: %2"), {path, reason}).c_str());
        return nullptr;
    }
    return log;
}

FrameLog::FrameLog(const std::string& path) : m_file(std::fopen(path.c_str(), "ae"))
{
    if (m_file)
        std::setvbuf(m_file, nullptr, _IOLBF, 256);
}

FrameLog::~FrameLog()
{
    if (m_file)
        std::fclose(m_file);
}

long long FrameLog::nowMicros()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000LL + now.tv_nsec / 1000;
}

void FrameLog::record(int picture, int cameraFrame, int path)
{
    std::fprintf(m_file, "%lld %d %d %d\n", nowMicros(), picture, cameraFrame, path);
}

void FrameLog::recordPosition(int picture, double tablePosition, int path)
{
    std::fprintf(m_file, "%lld %d %.2f %d\n", nowMicros(), picture, tablePosition, path);
}
