#pragma once
// Every seam of the program set back to "off" in one call, for a test's
// cleanup(): the alert and panel responders, the Saver's save panel, the
// writer's commit hook, the file faults, the desktop runner and the thumbnail
// store's write fault; the alerts shown so far are forgotten. A hook one case
// set then never answers for the next. Main thread.
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Workspace.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/image/ImageWriter.h"
#include "platform/image/ThumbnailStore.h"

namespace lg::test {

inline void resetSeams()
{
    lg::Alert::setResponder({});
    lg::Alert::clearShownAlerts();
    lg::Panels::setOpenResponder({});
    lg::Panels::setSaveResponder({});
    Saver::setPanelResponderForTesting({});
    lg::ImageWriter::setCommitHookForTesting({});
    lg::setFileFaultForTesting({});
    lg::Workspace::setRunnerForTesting({});
    lg::ThumbnailStore::setWriteFaultForTesting({});
}

} // namespace lg::test
