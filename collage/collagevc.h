#pragma once
// The collage maker.
#include <QWidget>

class QAbstractItemView;
class QPushButton;

class collagevc : public QWidget
{
    Q_OBJECT
public:
    explicit collagevc(QWidget *parent = nullptr);

    QAbstractItemView *collectionview = nullptr;  // the photo strip
    QPushButton *btnremove = nullptr;

    // Lays the canvas out again for the current window size.
    void viewDidResize();
    // Removes every slot from the canvas.
    void removeall();
};
