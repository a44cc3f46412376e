// The decode worker's loop: one request at a time, each on the descriptor that came with it.
#include "platform/image/DecodeService.h"

#include "platform/image/PropertyProbe.h"
#include "platform/image/AnimationFrames.h"

#include <malloc.h>
#include <unistd.h>

namespace lg::image {

int serveDecodeRequests(int socket, const QString &scratch, const QString &unconfined, const WorkerStandIn &standIn)
{
    if (!sendGreeting(socket, scratch, unconfined))
        return 1;
    for (;;) {
        WorkerTask task;
        int fd = -1;
        if (!receiveTask(socket, &task, &fd))
            return 0;   // the program closed its end, or said something that is no request
        std::optional<WorkerReply> reply = standIn ? standIn(task, fd) : std::nullopt;
        bool ended = false;   // the request's last message went out already
        if (!reply && task.kind == WorkerTaskKind::Animation) {
            reply = performAnimationTask(fd, [socket](const WorkerReply &part) { return sendReply(socket, part); });
            ended = !reply;
        }
        if (!reply && !ended)
            reply = task.kind == WorkerTaskKind::Probe ? performProbeTask(task, fd) : performWorkerTask(task, fd);
        if (fd >= 0)
            ::close(fd);
        const bool sent = ended || sendReply(socket, *reply);
        reply.reset();
        // What the decode freed goes back to the system, so that the next
        // request's grant counts from what the worker holds at rest.
        ::malloc_trim(0);
        if (!sent)
            return 0;
    }
}

} // namespace lg::image
