#pragma once
// The image editor.
#include <QWidget>

class editImagevc : public QWidget
{
    Q_OBJECT
public:
    explicit editImagevc(QWidget *parent = nullptr);
    // Loads the current image into the editor.
    void loadImage();
};
