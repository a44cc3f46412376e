#pragma once
// The decode worker's side of its socket (DecodeWorkers.h): it takes one
// request at a time, runs it on the descriptor that came with it, and sends
// back the picture and what it found, until the program closes the socket.
// Called on the worker's main thread; nothing here is for the program.
#include "platform/image/WorkerProtocol.h"

#include <functional>
#include <optional>

namespace lg::image {

// Runs task on the file open as fd (a regular file; the descriptor stays the
// caller's), decoding in this process (ImageSource.cpp).
WorkerReply performWorkerTask(const WorkerTask &task, int fd);

// A test's worker answers some files itself: the reply, or none for a file
// it leaves to the decoders.
using WorkerStandIn = std::function<std::optional<WorkerReply>(const WorkerTask &task, int fd)>;

// Greets the program with its scratch folder (the only place it writes) and
// what of the confinement the system refused (unconfined, in words; empty:
// none), then serves requests until the socket is closed. The worker's exit
// status.
int serveDecodeRequests(int socket, const QString &scratch, const QString &unconfined,
                        const WorkerStandIn &standIn = {});

} // namespace lg::image
