#pragma once

#include <sys/stat.h>

#include <string>

// A file descriptor that is closed on every path out of its owner's scope.
class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    // Gives the descriptor up to a new owner (a stdio stream, for example) without closing it.
    int release();

private:
    int m_fd = -1;
};

// A picture file opened for reading, with what fstat says of it, or the errno of the failure.
struct OpenedFile
{
    FileDescriptor descriptor;
    struct stat status
    {
    };
    int error = 0;

    bool isRegularFile() const { return error == 0 && S_ISREG(status.st_mode); }
    bool isFolder() const { return error == 0 && S_ISDIR(status.st_mode); }
};

// Opens `path` (the file system's bytes) for reading without waiting: a picture replaced by a
// FIFO since the search found it would otherwise block the open until a writer comes. Regular
// files are opened as usual. The caller decides what to make of anything that is not a regular
// file.
OpenedFile openWithoutWaiting(const std::string& path);
