#pragma once
#include <QWidget>

class QMouseEvent;

class thumbnailvc : public QWidget
{
    Q_OBJECT
public:
    explicit thumbnailvc(QWidget *parent = nullptr);

    // Puts the file URLs of the selection on the clipboard and in copiedURLs.
    void copyItem_menu();
    // Rebuilds the view from the current folder.
    void refreshData();
    // Selects the item under a right click and opens its context menu.
    void handleRightMouseDown(QMouseEvent *event);
    // Recomputes the layout from the view width.
    void resize();
    using QWidget::resize;
};
