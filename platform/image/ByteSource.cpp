// Random access to the bytes of a file or a buffer.
#include "platform/image/ByteSource.h"

#include "platform/base/HandlePath.h"

#include <QBuffer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg::image {

ByteSource ByteSource::openFile(const QString &path)
{
    return path.isEmpty() ? ByteSource() : openNative(QFile::encodeName(path));
}

ByteSource ByteSource::openNative(const QByteArray &native, bool followLinks)
{
    ByteSource source;
    if (native.isEmpty())
        return source;
    // O_NONBLOCK keeps open() from waiting on a FIFO; it has no effect on regular files.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return source;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return source;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    source.m_fd = fd;
    source.m_size = st.st_size;
    return source;
}

ByteSource ByteSource::fromDescriptor(int fd)
{
    ByteSource source;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return source;
    source.m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    source.m_size = source.m_fd >= 0 ? st.st_size : 0;
    return source;
}

ByteSource ByteSource::fromMemory(const QByteArray &data)
{
    ByteSource source;
    source.m_inMemory = true;
    source.m_data = data;
    source.m_size = data.size();
    return source;
}

ByteSource::~ByteSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ByteSource::ByteSource(ByteSource &&other) noexcept
    : m_fd(other.m_fd), m_inMemory(other.m_inMemory), m_size(other.m_size), m_data(std::move(other.m_data))
{
    other.m_fd = -1;
    other.m_inMemory = false;
    other.m_size = 0;
}

ByteSource &ByteSource::operator=(ByteSource &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_inMemory = other.m_inMemory;
        m_size = other.m_size;
        m_data = std::move(other.m_data);
        other.m_fd = -1;
        other.m_inMemory = false;
        other.m_size = 0;
    }
    return *this;
}

qint64 ByteSource::readInto(qint64 offset, char *buffer, qint64 length) const
{
    if (offset < 0 || length < 0 || !isOpen())
        return -1;
    if (m_inMemory) {
        if (offset >= m_size)
            return 0;
        const qint64 count = std::min(length, m_size - offset);
        std::memcpy(buffer, m_data.constData() + offset, size_t(count));
        return count;
    }
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, buffer + done, size_t(length - done), off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

QByteArray ByteSource::read(qint64 offset, qint64 length) const
{
    if (offset < 0 || length <= 0 || offset >= m_size)
        return {};
    length = std::min(length, m_size - offset);
    if (m_inMemory)
        return m_data.mid(offset, length);
    QByteArray bytes(length, Qt::Uninitialized);
    const qint64 n = readInto(offset, bytes.data(), length);
    if (n <= 0)
        return {};
    bytes.truncate(n);
    return bytes;
}

QByteArray ByteSource::readAll(qint64 limit) const
{
    if (m_size > limit)
        return {};
    if (m_inMemory)
        return m_data;
    return read(0, m_size);
}

std::unique_ptr<QIODevice> ByteSource::device() const
{
    if (m_inMemory) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(m_data);
        if (!buffer->open(QIODevice::ReadOnly))
            return nullptr;
        return buffer;
    }
    if (m_fd < 0)
        return nullptr;
    // A descriptor of its own: QFile moves the file offset, pread users do not care.
    int fd = ::open(handlePath(m_fd).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);  // no /proc: a shared offset, still fine for one reader
    if (fd < 0)
        return nullptr;
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

bool isRegularFile(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace lg::image
