#pragma once
// The preferences window.
#include <QWidget>

class preferencesWindowController : public QWidget
{
    Q_OBJECT
public:
    explicit preferencesWindowController(QWidget *parent = nullptr);
};
