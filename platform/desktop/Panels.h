#pragma once
// Open and save panels over Qt's own (non-native) QFileDialog, shown with open()
// and answered through callbacks; without a parent a panel is application-modal.
// Tests install a responder that answers instead of a person: nothing is shown and
// the answer reaches the callback queued on the main thread. Main thread only.
// A quit never waits for a panel: answerAllForQuit() closes every open panel as
// cancelled, and once the shutdown has begun (lg::beginShutdown) every answer
// arrives as cancelled and no new panel is shown.
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QList>
#include <functional>

class QDialog;
class QWidget;

namespace lg {

struct OpenPanelSpec
{
    QString title;
    QString directory;
    bool chooseFiles = true;
    bool chooseDirectories = false;
    bool allowsMultipleSelection = false;
    bool showsHiddenFiles = false;
    QStringList nameFilters;   // e.g. "Images (*.png *.jpg)"
    QString prompt;            // the confirming button's text; empty keeps "Open"
    // Folders with these extensions (e.g. "photoslibrary") are chosen as one
    // item, like a file, when files can be chosen.
    QStringList packageExtensions;
};

struct SavePanelSpec
{
    QString title;
    QString directory;
    QString fileName;          // proposed name
    QStringList nameFilters;
    QString message;           // a line the panel shows with its fields (why it is asked); none when empty
    // Extra widget under the panel (e.g. format and quality). The panel takes it
    // over and deletes it after the callback has run, so read it in the callback.
    QWidget *accessory = nullptr;
};

class Panels
{
public:
    // urls is empty when the panel was cancelled.
    using OpenCallback = std::function<void(const QList<QUrl> &urls)>;
    // url is empty when cancelled.
    using SaveCallback = std::function<void(const QUrl &url)>;
    using OpenResponder = std::function<QList<QUrl>(const OpenPanelSpec &)>;
    using SaveResponder = std::function<QUrl(const SavePanelSpec &)>;

    static void open(QWidget *parent, const OpenPanelSpec &spec, OpenCallback done);
    // A panel of the caller's own making, for what QFileDialog cannot do (a
    // folder chooser that lists names by their bytes): make builds it, it is
    // shown and closed at quit as the panels above are, and answered with
    // chosen(dialog) when accepted. The open responder answers for spec
    // instead, as for open().
    using PanelMaker = std::function<QDialog *(QWidget *parent)>;
    using ChosenOf = std::function<QList<QUrl>(QDialog *dialog)>;
    static void openOwn(QWidget *parent, const OpenPanelSpec &spec, PanelMaker make, ChosenOf chosen,
                        OpenCallback done);
    static void save(QWidget *parent, const SavePanelSpec &spec, SaveCallback done);

    static void setOpenResponder(OpenResponder responder);  // empty clears it
    static void setSaveResponder(SaveResponder responder);  // empty clears it
    // Closes every open panel without calling its callback, and drops answers
    // of responders not yet delivered (used on reset).
    static void closeAll();
    // At quit, once lg::beginShutdown has run: closes every open panel and
    // takes every responder's answer not yet delivered, and calls their
    // callbacks as cancelled.
    static void answerAllForQuit();
    // The number of panels on screen now.
    static int openCount();
};

} // namespace lg
