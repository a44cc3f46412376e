// lumengallery-decoder: the decode worker the program starts (image/DecodeWorkers.h).
// It is handed its socket as descriptor 3 and the codec modules' folders as
// arguments, confines itself, and serves requests until the program closes
// the socket or ends.
#include "platform/image/worker/WorkerStart.h"

int main(int argc, char **argv)
{
    return lg::image::runDecodeWorker(argc, argv, {});
}
