#include "app/splitvc.h"

#include "app/Essentials.h"
#include "browser/ViewController.h"
#include "sidebar/sideMenuvc.h"

#include <QGridLayout>
#include <QSplitter>

splitvc::splitvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("splitvc"));
    viewDidLoad();
}

void splitvc::viewDidLoad()
{
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitView"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);
    pinViewToContainerEdges(this, m_splitter);

    item = sidebarController();
    item2 = contentController();
    item->setMinimumWidth(sidebarMinimumThickness);
    m_splitter->addWidget(item);
    m_splitter->addWidget(item2);
    // The sidebar holds its width while the window grows or shrinks.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({280, 920});
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] { splitViewDidResizeSubviews(); });
}

int splitvc::sidebarMaximumThickness() const
{
    return int(window()->width() * 0.25);
}

void splitvc::updateSidebarMaximum()
{
    // Not in a window yet: there is no window width to take a quarter of.
    if (!item || window() == this)
        return;
    item->setMaximumWidth(std::max(sidebarMinimumThickness, sidebarMaximumThickness()));
}

void splitvc::viewDidAppear() { updateSidebarMaximum(); }
void splitvc::splitViewDidResizeSubviews() { updateSidebarMaximum(); }
void splitvc::resize() { updateSidebarMaximum(); }

void splitvc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    viewDidAppear();
}

void splitvc::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    splitViewDidResizeSubviews();
}
