#pragma once

#include <cstdio>
#include <memory>
#include <string>

// The frame-time record, for measuring the show's smoothness from outside. When the environment
// variable LUMIVANE_FRAME_LOG names a file, the window appends one line to it for every frame it
// presents: the monotonic clock in microseconds, the list index of the picture on screen (-1
// before the first), the camera's table position and the camera path (0..5), separated by single
// blanks. The table position is the camera frame (1..150) when the camera moves one entry per
// frame, and a decimal such as 37.42 with smooth motion. Without the variable there is no record
// and no cost beyond one null test per frame.
class FrameLog
{
public:
    // The record the environment asks for, or null. A file that cannot be opened is reported on
    // stderr and the show runs without a record.
    static std::unique_ptr<FrameLog> fromEnvironment();

    // Appends to `path`; check isOpen().
    explicit FrameLog(const std::string& path);
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    bool isOpen() const { return m_file != nullptr; }

    // One line, time-stamped now. Each line is written through at once, so that a record read
    // while the show runs, or after it was killed, is complete up to its last frame.
    void record(int picture, int cameraFrame, int path);
    // The same with a fractional table position, written with two decimals.
    void recordPosition(int picture, double tablePosition, int path);

private:
    static long long nowMicros();

    std::FILE* m_file = nullptr;
};
