// The shared state of the screens that names widgets, and its helper.
#include "app/Essentials.h"

#include <QGridLayout>
#include <QWidget>

QWidget *currentContentView = nullptr;
QList<QWidget *> collageSlotList;

void pinViewToContainerEdges(QWidget *container, QWidget *view)
{
    if (!container || !view)
        return;
    QLayout *layout = container->layout();
    if (!layout) {
        layout = new QGridLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    if (view->parentWidget() != container)
        view->setParent(container);
    // Every view fills the one cell; one already in the layout is not added again.
    if (layout->indexOf(view) < 0) {
        if (auto *grid = qobject_cast<QGridLayout *>(layout))
            grid->addWidget(view, 0, 0);
        else
            layout->addWidget(view);
    }
    view->show();
}
