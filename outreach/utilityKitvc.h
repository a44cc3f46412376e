#pragma once
// The promotion panel.
#include <QWidget>

class utilityKitvc : public QWidget
{
    Q_OBJECT
public:
    explicit utilityKitvc(QWidget *parent = nullptr);
};
