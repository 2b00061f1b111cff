#include "imaging/filedescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

FileDescriptor::~FileDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

int FileDescriptor::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

OpenedFile openWithoutWaiting(const std::string& path)
{
    OpenedFile file;
    // O_NONBLOCK keeps a FIFO from blocking the open; regular files ignore it.
    file.descriptor = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.descriptor.get() < 0 || ::fstat(file.descriptor.get(), &file.status) != 0)
        file.error = errno;
    return file;
}
