#pragma once
// Random access to the bytes of one file or of a buffer in memory. A file is
// opened only when it is a regular file, so a FIFO or a device named like a
// picture never blocks a reader; reads use pread, so one ByteSource may be read
// from several threads.
#include <QByteArray>
#include <QString>
#include <memory>

class QIODevice;

namespace lg::image {

class ByteSource
{
public:
    ByteSource() = default;
    static ByteSource openFile(const QString &path);
    // The same for a path given by its bytes; a final link is followed only
    // with followLinks.
    static ByteSource openNative(const QByteArray &nativePath, bool followLinks = true);
    static ByteSource fromMemory(const QByteArray &data);
    // The file open as fd (a copy of the descriptor; fd stays the caller's),
    // when it is a regular file.
    static ByteSource fromDescriptor(int fd);
    ~ByteSource();
    ByteSource(ByteSource &&other) noexcept;
    ByteSource &operator=(ByteSource &&other) noexcept;
    ByteSource(const ByteSource &) = delete;
    ByteSource &operator=(const ByteSource &) = delete;

    bool isOpen() const { return m_fd >= 0 || m_inMemory; }
    bool inMemory() const { return m_inMemory; }
    // The file's descriptor, -1 for a source in memory; it stays this source's.
    int descriptor() const { return m_fd; }
    qint64 size() const { return m_size; }

    // Up to length bytes from offset; shorter at the end, empty on error.
    QByteArray read(qint64 offset, qint64 length) const;
    // Reads into a caller's buffer; returns the count read (short at the end), -1 on error.
    qint64 readInto(qint64 offset, char *buffer, qint64 length) const;
    // The whole content, or an empty array when it is larger than limit.
    QByteArray readAll(qint64 limit) const;
    // A readable device over the content (its own file offset), or null.
    std::unique_ptr<QIODevice> device() const;
    // The buffer itself for sources made from memory (no copy).
    const QByteArray &memory() const { return m_data; }

private:
    int m_fd = -1;
    bool m_inMemory = false;
    qint64 m_size = 0;
    QByteArray m_data;
};

// True when path names a regular file (symbolic links followed).
bool isRegularFile(const QString &path);

} // namespace lg::image
