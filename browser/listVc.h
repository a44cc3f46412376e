#pragma once
#include <QWidget>

class QMouseEvent;

class listVc : public QWidget
{
    Q_OBJECT
public:
    explicit listVc(QWidget *parent = nullptr);

    // Puts the file URLs of the selection on the clipboard and in copiedURLs.
    void copyItem_menu();
    // Rebuilds the view from the current folder.
    void refreshData();
    // Selects the item under a right click and opens its context menu.
    void handleRightMouseDown(QMouseEvent *event);

};
