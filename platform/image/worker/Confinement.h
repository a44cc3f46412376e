#pragma once
// What keeps a decode worker to its one job: no new privileges, user and
// network namespaces of its own where the system allows them, and a
// system-call filter that lets it read, map and compute but make no
// connection, start no program and raise none of its limits. It writes files
// only in a scratch folder of its own (ImageMagick's temporaries), which
// Landlock holds it to; where Landlock is not there, it opens no file for
// writing at all. Called once on the worker's main thread, before any other
// thread starts.
#include <QString>

namespace lg::image {

// Confines this process to writing in scratch (an empty folder it made; empty:
// none); what the system refused, in words for the log ("without namespaces
// of their own (Operation not permitted)"), empty when nothing was refused.
QString confineDecodeWorker(const QByteArray &scratch);

} // namespace lg::image
