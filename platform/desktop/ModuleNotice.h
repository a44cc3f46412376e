#pragma once
// Tells the user, in the main window, which kinds of files cannot be shown
// because their codec module cannot be used (platform/modules/Modules.h): once
// per module and run, as a sheet on the window with one OK button that waits
// for nobody. Problems found together are said in one sheet that names each
// kind; problems found while it is open are said once it is gone, in one
// more, never stacked on it. Main thread; the problems themselves may be
// found on any thread.
class QWidget;

namespace lg {

// From now on, module problems are said on window (application-modal once it
// is gone). Problems found before the call are said at once.
void showModuleProblemsIn(QWidget *window);

} // namespace lg
