#pragma once
// The folder drop target of the main window: folders dropped on the window
// (where no view inside it takes the drop, e.g. on the home screen) become new
// sources of the sidebar and the browser opens; while the collage shows, the
// dropped items go to the collage instead. Refused items are reported in one
// message, after which the good folders are still added. Main thread.
#include <QObject>
#include <QStringList>

class QMimeData;
class QWidget;

class DropView : public QObject
{
    Q_OBJECT
public:
    // Makes window accept drops and serves them.
    static DropView *install(QWidget *window);

    // True when the drag holds local paths (the drop would be taken).
    static bool draggingEntered(const QMimeData *data);
    // The drop: false when there is no usable list of paths.
    static bool performDragOperation(const QMimeData *data);
    static bool performDragOperation(const QStringList &paths);

    static const QString notFolderMessage;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit DropView(QWidget *window);
    static void openBrowser();
};
