#pragma once
// The first-run welcome screen.
#include <QWidget>

class StartupVc : public QWidget
{
    Q_OBJECT
public:
    explicit StartupVc(QWidget *parent = nullptr);
};
