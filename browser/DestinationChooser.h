#pragma once
// The folder chooser of Move To and Copy To, and the icon of a file or folder
// as the desktop shows it. Main thread only.
#include <QIcon>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

// Asks for one folder (no files, hidden folders not listed) with prompt on the
// confirming button ("Move", "Copy"). done gets the folder, or none when the
// user cancelled; a cancel also clears the hub's isonlyalert and hides its busy
// overlay, which the caller showed in its alert form before.
void chooseDestinationFolder(QWidget *parent, const QString &prompt,
                             std::function<void(std::optional<QUrl> folder)> done);

// The icon of the file or folder at url; none (and the line "Error reading file
// attributes") when it cannot be read; an empty icon when it has none.
std::optional<QIcon> effectiveIconOfURL(const QUrl &url);
