#pragma once
// The start of a decode worker program, shared by lumengallery-decoder and the
// tests' stand-in worker: the program hands it its socket as descriptor 3
// and no other file of its own; the worker finds the codec modules in the
// folders named by its arguments (where memory files run no code, it loads
// them all), confines itself before any thread starts, ends when the
// program's end of the socket closes (also in the middle of a decode), and
// serves requests.
#include "platform/image/DecodeService.h"

namespace lg::image {

int runDecodeWorker(int argc, char **argv, const WorkerStandIn &standIn);

} // namespace lg::image
