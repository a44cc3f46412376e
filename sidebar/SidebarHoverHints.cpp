// The sidebar's hover hints over its four buttons.
#include "sidebar/SidebarHoverHints.h"

#include "model/SharedState.h"
#include "controls/PopoverMaxTypeVC.h"
#include "sidebar/sideMenuvc.h"

#include <QEvent>
#include <QWidget>

SidebarHoverHints::SidebarHoverHints(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar) {}

void SidebarHoverHints::watchAreas()
{
    for (QWidget *area :
         {m_sidebar->areaBtnAdd, m_sidebar->areabtnRemove, m_sidebar->areabtnAddLibrary, m_sidebar->areabtnShowFiles})
        area->installEventFilter(this);
}

bool SidebarHoverHints::eventFilter(QObject *watched, QEvent *event)
{
    if (auto *area = qobject_cast<QWidget *>(watched)) {
        if (event->type() == QEvent::Enter)
            m_sidebar->mouseEntered(area);
        else if (event->type() == QEvent::Leave)
            m_sidebar->mouseExited(area);
    }
    return QObject::eventFilter(watched, event);
}

void SidebarHoverHints::entered(QWidget *area)
{
    if (isBusy)
        return;
    m_sidebar->popoverDetails->showHintFor(area, {
        {m_sidebar->areaBtnAdd, "Add Bookmark"},
        {m_sidebar->areabtnRemove, "Remove Bookmark"},
        {m_sidebar->areabtnAddLibrary, "Add Photos Library"},
        {m_sidebar->areabtnShowFiles, "Open Media Files"},
    });
}

void SidebarHoverHints::exited()
{
    m_sidebar->popoverDetails->hide();
}
