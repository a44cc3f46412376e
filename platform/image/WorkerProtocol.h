#pragma once
// What the program and a decode worker say to each other over the socket
// between them (a SOCK_SEQPACKET pair): a request is one message naming the
// task, with the descriptor of the file's bytes passed beside it
// (SCM_RIGHTS); a reply is one message with the outcome and the facts found,
// with a sealed memory file of the pixels beside it when there is a picture.
// The program maps those pixels as they are, without a copy, and trusts
// nothing of the reply it has not checked: a memory file that is not sealed
// against every change, or too small for the picture it is said to hold, is
// refused as a failed decode.
//
// Any thread; each call works on the descriptors it is given. A failed send
// or receive (the other end gone, a message that does not parse) gives false.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace lg::image {

// What a worker is asked to do with a file's bytes.
// Probe: what third-party libraries read of its header and metadata
// (PropertyProbe.h), no picture. VideoProbe: a video's size and length, no
// picture (its reply comes as Failed, with the facts found). Animation: every
// frame of an animation in one pass, each sent as it is decoded
// (WorkerEnd::More), the last as Done.
enum class WorkerTaskKind : quint8 { Thumbnail, Frame, VideoFrame, Probe, VideoProbe, Animation };

struct WorkerTask
{
    WorkerTaskKind kind = WorkerTaskKind::Thumbnail;
    int maxSide = 0;       // Thumbnail: the longest side wanted
    bool cached = false;   // Thumbnail: kept in the cache (ThumbnailUse::Cached)
    int frameIndex = 0;    // Frame: which one, 0-based
    QString extension;     // lower-cased, as the file's name has it
    quint32 probeParts = 0;  // Probe: which parts (PropertyProbe.h)
};

// How a worker's decode ended, as the program sees it.
enum class WorkerEnd : quint8 {
    Done,        // a picture came back
    Failed,      // the decoder found no picture in the bytes
    OverGrant,   // the decode needed more memory than it was granted
    TimedOut,    // the decode ran past its time and was ended
    Crashed,     // the worker died otherwise (a crash, an abort)
    Stopped,     // the quit ended it
    Unavailable, // no worker could be started
    More         // a picture of a series came back, and the request goes on
};

// What a worker found of the file besides the picture.
struct WorkerFacts
{
    int depth = 0;
    QString colorModel;
    bool hasAlpha = false;
    int orientation = 1;
    int frames = 1;
    QSize storedSize;
    int delayMs = 0;       // Frame, Animation: how long it shows
    // VideoProbe: the video's size as shown (storedSize; invalid when the
    // file is no video the demuxers take), turn, length and names.
    int rotation = 0;
    double durationSeconds = 0;
    QString codec;
    QString creationTime;
};

struct WorkerReply
{
    WorkerEnd end = WorkerEnd::Failed;
    QImage image;
    WorkerFacts facts;
    // Probe: the facts found, as PropertyProbe.h writes them (in a sealed
    // memory file beside the reply; at most largestProbeReply bytes).
    QByteArray probed;
};

constexpr qint64 largestProbeReply = 64LL << 20;

// The exit status by which a worker says that an allocation was refused: its
// grant is spent.
constexpr int workerOverGrantStatus = 86;

bool sendTask(int socket, const WorkerTask &task, int fileDescriptor);
// Fills task and takes ownership of the descriptor received (-1 when none).
bool receiveTask(int socket, WorkerTask *task, int *fileDescriptor);
// False also for a part of a series (More) whose picture could not be put in
// a memory file: the request was said to end there, as Failed.
bool sendReply(int socket, const WorkerReply &reply);
bool receiveReply(int socket, WorkerReply *reply);

// The first message of a worker once it is ready: its scratch folder (an
// absolute path the program removes once the worker ended; empty: none) and
// what of its confinement the system did not allow, in words (empty: none).
bool sendGreeting(int socket, const QString &scratch, const QString &unconfined);
bool receiveGreeting(int socket, QString *scratch, QString *unconfined);

// A sealed memory file holding bytes (for a source held in memory, handed to
// a worker as a file); -1 on failure.
int sealedMemoryFile(const char *name, const char *bytes, qint64 size);

} // namespace lg::image
