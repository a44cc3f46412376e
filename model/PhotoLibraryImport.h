#pragma once
// Importing files into a Photos library. Files dropped or pasted onto a library
// that is the current folder wait in importQueue (model/SharedState.h), and
// startPhotoLibraryImport (declared there) hands them on. This system has no
// Photos application to take them, so every import into a library is refused
// with one alert and nothing is written into the package. Main thread only.
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

// True when files put into folder would be imported into a Photos library: its
// extension, lower-cased, is "photoslibrary".
bool isPhotoLibraryImportTarget(const std::optional<QUrl> &folder);

// Tells the user that files cannot be imported into a Photos library here. The
// paste, drop and menu commands whose target is a library call it instead of
// copying; done runs once the alert has been answered.
void refusePhotoLibraryImport(QWidget *parent, std::function<void()> done = {});
