#pragma once
// The sidebar's hover hints: the name of each of its four buttons, shown in the
// sidebar's popover while the pointer is over the button and hidden when it
// leaves; none while the window is busy. Main thread; it lives as long as its
// sidebar and watches the buttons the sidebar hands it.
#include <QObject>

class QEvent;
class QWidget;
class sideMenuvc;

class SidebarHoverHints : public QObject
{
    Q_OBJECT
public:
    explicit SidebarHoverHints(sideMenuvc *sidebar);
    // Follows the pointer over the sidebar's hover areas (set by then).
    void watchAreas();
    void entered(QWidget *area);
    void exited();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    sideMenuvc *m_sidebar;
};
