#pragma once
// The home screen that chooses the sources.
#include <QWidget>

class homeVc : public QWidget
{
    Q_OBJECT
public:
    explicit homeVc(QWidget *parent = nullptr);
};
