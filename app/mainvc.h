#pragma once
// The content hub: header bar over the split view.
#include <QWidget>

class mainvc : public QWidget
{
    Q_OBJECT
public:
    explicit mainvc(QWidget *parent = nullptr);
};
