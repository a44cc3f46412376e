#pragma once
// Push buttons that show the pointing-hand cursor while the pointer is over
// them. The two classes behave alike; screens use one or the other.
#include <QPushButton>

class buttoncursor : public QPushButton
{
    Q_OBJECT
public:
    explicit buttoncursor(QWidget *parent = nullptr);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
};

class cursorButton : public QPushButton
{
    Q_OBJECT
public:
    explicit cursorButton(QWidget *parent = nullptr);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
};
