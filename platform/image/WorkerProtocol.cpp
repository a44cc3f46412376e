// The messages between the program and a decode worker, and the sealed memory files beside them.
#include "platform/image/WorkerProtocol.h"

#include <QColorSpace>
#include <QDataStream>
#include <QIODevice>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg::image {

namespace {

// Every message is far smaller; a larger one is no message of ours.
constexpr int largestMessage = 64 << 10;
constexpr int allSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;

bool sendMessage(int socket, const QByteArray &bytes, int fd)
{
    iovec part {const_cast<char *>(bytes.constData()), size_t(bytes.size())};
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    for (;;) {
        const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
        if (sent == bytes.size())
            return true;
        if (sent < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// One message and the descriptor that came with it (-1: none); false at the
// end of the stream or on a message that is not whole.
bool receiveMessage(int socket, QByteArray *bytes, int *fd)
{
    *fd = -1;
    bytes->resize(largestMessage);
    iovec part {bytes->data(), size_t(bytes->size())};
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    // Every descriptor that came is taken, so none is left open by a refusal.
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received = -1;
            std::memcpy(&received, CMSG_DATA(header) + i * sizeof(int), sizeof received);
            if (*fd < 0 && i == 0)
                *fd = received;
            else
                ::close(received);
        }
    }
    if (got <= 0 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
        return false;
    }
    bytes->resize(int(got));
    return true;
}

void releaseMapping(void *info)
{
    const auto *mapping = static_cast<const std::pair<void *, size_t> *>(info);
    ::munmap(mapping->first, mapping->second);
    delete mapping;
}

// The picture held in the sealed memory file fd, described by the reply's
// header; null when the file does not hold it or may still change.
QImage mappedPicture(int fd, int width, int height, int format, qint64 bytesPerLine)
{
    if (width <= 0 || height <= 0 || format <= int(QImage::Format_Invalid) || format >= int(QImage::NImageFormats)
        || bytesPerLine <= 0 || bytesPerLine > INT_MAX)
        return {};
    const QImage::Format imageFormat = QImage::Format(format);
    const int depth = QImage::toPixelFormat(imageFormat).bitsPerPixel();
    if (bytesPerLine < (qint64(width) * depth + 7) / 8)
        return {};
    const qint64 bytes = bytesPerLine * height;
    struct stat st {};
    // More seals only hold it more (F_SEAL_EXEC, which the system adds where
    // memory files may not run code).
    const int seals = ::fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (seals & allSeals) != allSeals || ::fstat(fd, &st) != 0 || st.st_size < bytes)
        return {};
    void *memory = ::mmap(nullptr, size_t(bytes), PROT_READ, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED)
        return {};
    auto *mapping = new std::pair<void *, size_t>(memory, size_t(bytes));
    QImage image(static_cast<const uchar *>(memory), width, height, qsizetype(bytesPerLine), imageFormat,
                 releaseMapping, mapping);
    if (image.isNull())
        releaseMapping(mapping);
    return image;
}

// The first size bytes of the sealed memory file fd; empty when it is not
// sealed against every change, holds fewer, or size passes what a probe's
// reply may hold.
QByteArray sealedBytes(int fd, qint64 size)
{
    struct stat st {};
    if (size <= 0 || size > largestProbeReply || ::fcntl(fd, F_GET_SEALS) != allSeals || ::fstat(fd, &st) != 0
        || st.st_size < size)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    for (qint64 done = 0; done < size;) {
        const ssize_t got = ::pread(fd, bytes.data() + done, size_t(size - done), off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return {};
        done += got;
    }
    return bytes;
}

} // namespace

int sealedMemoryFile(const char *name, const char *bytes, qint64 size)
{
    const int fd = ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    bool ok = ::ftruncate(fd, off_t(size)) == 0;
    for (qint64 done = 0; ok && done < size;) {
        const ssize_t wrote = ::pwrite(fd, bytes + done, size_t(std::min<qint64>(size - done, 1 << 30)), off_t(done));
        if (wrote < 0 && errno == EINTR)
            continue;
        ok = wrote > 0;
        done += ok ? wrote : 0;
    }
    if (!ok || ::fcntl(fd, F_ADD_SEALS, allSeals) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendGreeting(int socket, const QString &scratch, const QString &unconfined)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QByteArrayLiteral("lumengallery-decoder") << scratch << unconfined;
    return sendMessage(socket, bytes, -1);
}

bool receiveGreeting(int socket, QString *scratch, QString *unconfined)
{
    QByteArray bytes;
    int fd = -1;
    if (!receiveMessage(socket, &bytes, &fd))
        return false;
    if (fd >= 0)
        ::close(fd);
    QDataStream in(bytes);
    QByteArray name;
    in >> name >> *scratch >> *unconfined;
    return in.status() == QDataStream::Ok && name == "lumengallery-decoder";
}

bool sendTask(int socket, const WorkerTask &task, int fileDescriptor)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(task.kind) << qint32(task.maxSide) << task.cached << qint32(task.frameIndex) << task.extension
        << task.probeParts;
    return sendMessage(socket, bytes, fileDescriptor);
}

bool receiveTask(int socket, WorkerTask *task, int *fileDescriptor)
{
    QByteArray bytes;
    if (!receiveMessage(socket, &bytes, fileDescriptor))
        return false;
    QDataStream in(bytes);
    quint8 kind = 0;
    qint32 maxSide = 0, frameIndex = 0;
    in >> kind >> maxSide >> task->cached >> frameIndex >> task->extension >> task->probeParts;
    if (in.status() != QDataStream::Ok || kind > quint8(WorkerTaskKind::Animation)) {
        if (*fileDescriptor >= 0)
            ::close(*fileDescriptor);
        *fileDescriptor = -1;
        return false;
    }
    task->kind = WorkerTaskKind(kind);
    task->maxSide = maxSide;
    task->frameIndex = frameIndex;
    return true;
}

bool sendReply(int socket, const WorkerReply &reply)
{
    const QImage &image = reply.image;
    int fd = -1;
    if (!image.isNull()) {
        fd = sealedMemoryFile("lumengallery-picture", reinterpret_cast<const char *>(image.constBits()),
                              image.sizeInBytes());
        if (fd < 0) {
            // Said as the end of the request: a part of a series goes no further.
            const bool sent = sendReply(socket, WorkerReply {WorkerEnd::Failed, QImage(), reply.facts, {}});
            return sent && reply.end != WorkerEnd::More;
        }
    } else if (!reply.probed.isEmpty() && reply.probed.size() <= largestProbeReply) {
        fd = sealedMemoryFile("lumengallery-probed", reply.probed.constData(), reply.probed.size());
    }
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    const WorkerFacts &f = reply.facts;
    // A picture sent is Done (or More, a part of a series); Done without one is Failed.
    WorkerEnd end = reply.end;
    if (fd >= 0 && end != WorkerEnd::More)
        end = WorkerEnd::Done;
    else if (fd < 0 && end == WorkerEnd::Done)
        end = WorkerEnd::Failed;
    out << quint8(end)
        << qint32(image.width()) << qint32(image.height()) << qint32(image.format()) << qint64(image.bytesPerLine())
        << (image.isNull() ? QByteArray() : image.colorSpace().iccProfile()) << qint32(f.depth) << f.colorModel
        << f.hasAlpha << qint32(f.orientation) << qint32(f.frames) << f.storedSize << qint32(f.delayMs)
        << qint64(image.isNull() && fd >= 0 ? reply.probed.size() : 0)
        << qint32(f.rotation) << f.durationSeconds << f.codec << f.creationTime;
    const bool sent = sendMessage(socket, bytes, fd);
    if (fd >= 0)
        ::close(fd);
    return sent;
}

bool receiveReply(int socket, WorkerReply *reply)
{
    QByteArray bytes;
    int fd = -1;
    if (!receiveMessage(socket, &bytes, &fd))
        return false;
    QDataStream in(bytes);
    quint8 end = 0;
    qint32 width = 0, height = 0, format = 0, depth = 0, orientation = 1, frames = 1, delay = 0, rotation = 0;
    qint64 bytesPerLine = 0;
    QByteArray icc;
    WorkerFacts &f = reply->facts;
    qint64 probed = 0;
    in >> end >> width >> height >> format >> bytesPerLine >> icc >> depth >> f.colorModel >> f.hasAlpha >> orientation
        >> frames >> f.storedSize >> delay >> probed >> rotation >> f.durationSeconds >> f.codec >> f.creationTime;
    const bool parsed = in.status() == QDataStream::Ok && end <= quint8(WorkerEnd::More);
    if (parsed && fd >= 0 && probed > 0)
        reply->probed = sealedBytes(fd, probed);
    else if (parsed && fd >= 0)
        reply->image = mappedPicture(fd, width, height, format, bytesPerLine);
    if (fd >= 0)
        ::close(fd);
    if (!parsed)
        return false;
    if (!icc.isEmpty() && !reply->image.isNull())
        reply->image.setColorSpace(QColorSpace::fromIccProfile(icc));
    reply->end = WorkerEnd(end);
    if (reply->end == WorkerEnd::Done && reply->image.isNull() && reply->probed.isEmpty())
        reply->end = WorkerEnd::Failed;
    // A part of a series without its picture: what follows cannot be told from the next request's reply.
    if (reply->end == WorkerEnd::More && reply->image.isNull())
        return false;
    f.depth = depth;
    f.orientation = orientation;
    f.frames = frames;
    f.delayMs = delay;
    f.rotation = rotation;
    return true;
}

} // namespace lg::image
