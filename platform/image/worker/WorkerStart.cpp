// The start of a decode worker program.
#include "platform/image/worker/WorkerStart.h"

#include "platform/image/DecodeWorkers.h"
#include "platform/image/worker/Confinement.h"
#include "platform/files/names/FileNames.h"
#include "platform/modules/Modules.h"

#include <QCoreApplication>
#include <QByteArray>

#include <cstdlib>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace lg::image {

namespace {

constexpr int programSocket = 3;
// The stacks of the decoders' threads, counted in the worker's grant.
constexpr size_t threadStackBytes = 2 << 20;

} // namespace

int runDecodeWorker(int argc, char **argv, const WorkerStandIn &standIn)
{
    // ImageMagick's temporaries go to a folder of the worker's own, the
    // only place it may write; the program removes it once the worker ends.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QByteArray scratch = (runtime.startsWith('/') ? runtime : QByteArray("/tmp")) + "/lumengallery-decoder-XXXXXX";
    if (!::mkdtemp(scratch.data()))
        scratch.clear();
    if (!scratch.isEmpty()) {
        qputenv("MAGICK_TEMPORARY_PATH", scratch);
        qputenv("TMPDIR", scratch);
    }
    for (int i = 1; i < argc; ++i)
        addModuleFolder(FileNames::fromNative(QByteArray(argv[i])));
    // Where memory files run no code, the modules run from copies of their
    // files, which a confined worker can neither write nor trust.
    loadModulesBeforeConfinement();
    const QString unconfined = confineDecodeWorker(scratch);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        pthread_attr_setstacksize(&attributes, threadStackBytes);
        pthread_setattr_default_np(&attributes);
        pthread_attr_destroy(&attributes);
    }
    // Once the program is gone, so is the worker, whatever it is doing.
    const QString scratchFolder = FileNames::fromNative(scratch);
    std::thread([scratchFolder] {
        pollfd entry {programSocket, POLLRDHUP, 0};
        while (::poll(&entry, 1, -1) < 0 || !(entry.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)))
            entry.revents = 0;
        removeDecoderScratch(scratchFolder);
        ::_exit(0);
    }).detach();
    QCoreApplication application(argc, argv);
    setDecodesInThisProcess(true);
    const int status = serveDecodeRequests(programSocket, scratchFolder, unconfined, standIn);
    removeDecoderScratch(scratchFolder);
    return status;
}

} // namespace lg::image
