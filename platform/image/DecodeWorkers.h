#pragma once
// The decode workers: processes of the program's own (lumengallery-decoder,
// installed beside the codec modules and found like them by an absolute
// path) in which every decode a third-party library makes of a file's bytes
// runs, so that what a file claims can cost no more than the decode's grant.
//
// A request hands a worker a descriptor the program opened and waits for its
// reply: the picture comes back in a sealed memory file (WorkerProtocol.h).
// Its memory is held by the kernel to the grant (RLIMIT_DATA, set by the
// program on the worker before each request, which the worker itself may not
// raise): an allocation past it ends the worker, and the request ends as
// OverGrant. A request that runs past its time limit ends its worker
// (TimedOut), unless the request's caller offers to keep waiting
// (DecodeWait.h); a worker that dies otherwise is Crashed; at quit every request
// under way ends its worker within a fiftieth of a second (Stopped). A worker
// that ended is never used again: the next request starts a new one. A worker
// serves one request at a time; those that served theirs wait, warm, for the
// next (as many as the threads that may ask for a decode at once).
//
// In a build with AddressSanitizer, whose shadow memory a kernel bound on
// the address space or the data cannot allow, the program holds the grant
// instead: it looks at the worker's resident memory while it waits and ends
// the worker once that passes the grant.
//
// Any thread may call every function here at the same time; a request
// blocks its caller until the reply, the time limit or the quit.
#include "platform/image/ImageSource.h"
#include "platform/image/WorkerProtocol.h"

#include <QList>

#include <atomic>
#include <functional>

#include <sys/types.h>

namespace lg::image {

class DecodeWait;

// How long a thumbnail's decode may run before its worker is ended.
constexpr int thumbnailDecodeTimeLimitMs = 20000;
// What a worker holds beside a decode's own grant: the stacks of the
// decoders' threads and the libraries' tables made on first use.
constexpr qint64 workerGrantSlack = 48LL << 20;

// What the viewer's one picture may be granted when its prediction falls
// short: 80% of the memory available now, at most 2 GB.
qint64 viewerDecodeGrant();

// Runs task on the bytes behind fileDescriptor (not taken: the caller closes
// it) in a worker that may hold grantBytes beside what it held before. With
// wait, a decode past its time is not ended but told to wait (DecodeWait.h).
WorkerReply decodeInWorker(const WorkerTask &task, int fileDescriptor, qint64 grantBytes, int timeLimitMs,
                           DecodeWait *wait = nullptr);
// The same for a task whose worker sends several pictures (Animation): each
// that comes as More goes to part, on the calling thread, and starts the
// time limit again; the reply returned is the last. When part returns false
// or stop (when given) is set, the rest is unwanted: the worker is ended and
// the reply is Done without a picture. The grant holds the worker for the
// whole series.
WorkerReply decodeSeriesInWorker(const WorkerTask &task, int fileDescriptor, qint64 grantBytes, int timeLimitMs,
                                 const std::function<bool(WorkerReply &part)> &part,
                                 const std::atomic<bool> *stop = nullptr, DecodeWait *wait = nullptr);

// How a worker's decode ended, for a caller of ImageSource or VideoInfo
// (report, when given, filled with words where it ended short).
DecodeEnd noteDecodeEnd(WorkerEnd end, qint64 grant, const DecodeTerms &terms, DecodeReport *report);

// Whether decodes run in this process: true in a worker itself (and in tests
// that choose it); false in the program, which hands them to workers.
bool decodesInThisProcess();
void setDecodesInThisProcess(bool here);

// Starts a worker now when none waits, so that the first decode finds one
// ready (called once the window's first frame is shown). Returns at once.
void warmUpDecodeWorkers();
// The workers alive now (those serving a request and those waiting).
QList<pid_t> decodeWorkerIds();
// The memory the program and its workers hold, in bytes: their resident
// pages, each shared page counted once (proportional set sizes).
qint64 residentBytesWithWorkers();
// Ends every worker waiting for a request.
void endIdleDecodeWorkers();
// Removes a worker's scratch folder (XDG_RUNTIME_DIR, else /tmp, then
// lumengallery-decoder-XXXXXX) and the files in it; a path of any other
// form is left alone.
void removeDecoderScratch(const QString &folder);

// Tests: the worker program to start (an absolute path; empty: the program's own).
void setDecodeWorkerProgramForTesting(const QString &program);
// Tests: the clock the time limits are measured by, in ms (empty: the real one).
void setDecodeClockForTesting(std::function<qint64()> clock);

} // namespace lg::image
