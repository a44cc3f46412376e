#pragma once
// The frames of an animated GIF, for the viewer to play: decoded in one pass
// (a GIF frame is drawn over the ones before it) in a decode worker, which
// sends each frame back as soon as it is made and keeps Qt's reader between
// them, so the whole animation costs one decode. The worker is held to a
// grant of what the reader holds for the file (its screen a few times over
// and the file's bytes) and ended when one frame takes longer than
// animationFrameTimeLimitMs, when the caller gives the animation up, or at
// the quit; the frames that came before are kept.
//
// What a worker sends is checked before it is kept: every frame the size of
// the first, each delay within what a GIF can store, and the frames together
// within animationFrameBytes (each counted at least animationFrameLeastBytes).
//
// Any thread; readAnimation blocks its caller until the last frame, the
// time limit, the caller's stop or the quit.
#include "platform/image/ImageSource.h"

#include <QImage>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace lg::image {

struct WorkerReply;

struct AnimationFrames
{
    QList<QImage> images;      // ARGB32_Premultiplied, all of one size
    QList<int> delaysMs;       // one per image, each at least 1 ms
    float totalSeconds = 0;    // the sum of every frame's delay
};

// A frame without a stored delay shows this long.
constexpr int defaultAnimationFrameDelayMs = 50;
// The longest delay a GIF can store (65535 hundredths of a second).
constexpr int longestAnimationFrameDelayMs = 655350;
// Frames beyond this many decoded bytes are left out (the first frame is
// always kept), like the other caches of pictures.
constexpr qint64 animationFrameBytes = 128LL << 20;
// What a frame is counted as at least: its picture's header and the list's
// entry beside its pixels.
constexpr qint64 animationFrameLeastBytes = 1024;
// A larger file is not read for an animation.
constexpr qint64 animationFileBytes = 256LL << 20;
// How long the worker may take for one frame (the first one includes
// reading the file) before it is ended.
constexpr int animationFrameTimeLimitMs = 20000;

// Every frame of the GIF at path. A file that is not a GIF by its
// lower-cased extension, not a regular file, larger than animationFileBytes
// or without a frame gives none. stop, when given, is looked at between
// frames: once it is set, no more frames are read. report (when given) says
// how the decode ended, with words when it ended short of the file's end.
AnimationFrames readAnimation(const QString &path, DecodeReport *report = nullptr,
                              const std::atomic<bool> *stop = nullptr);

// The delay of each frame as the GIF data stores it, in milliseconds (0 for
// a frame without one). Qt's reader shows stored delays below 20 ms as
// 100 ms; the stored values are what the animation goes by.
QList<int> storedGifFrameDelays(const QByteArray &gif);

// The worker's side of an Animation task on the file open as fd: each frame
// but the last goes to send as a part (WorkerEnd::More) when the next one is
// decoded; the last is returned (Done), or none came (Failed). None when the
// request ended already because send failed.
std::optional<WorkerReply> performAnimationTask(int fd, const std::function<bool(const WorkerReply &part)> &send);

} // namespace lg::image
