#include "viewer/viewimagevc.h"

#include "app/Essentials.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

viewimagevc::viewimagevc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("viewimagevc"));
}

void viewimagevc::closeViewer() {}
void viewimagevc::recenterZoom() {}
void viewimagevc::applyFitStyle() {}
void viewimagevc::reloadItems() {}
void viewimagevc::toggleSlideShow() { isSlideShowRunning = !isSlideShowRunning; }
void viewimagevc::enterFullImageLayout() {}

void viewimagevc::copyCurrentItemToPasteboard()
{
    const QVector<InitialDirectory> &items = activeItemList();
    if (selectedItemIndex < 0 || selectedItemIndex >= items.size())
        return;
    const InitialDirectory &item = items.at(selectedItemIndex);
    const QUrl url = item.file ? item.file->url : item.url.value_or(QUrl());
    if (url.isEmpty())
        return;
    copiedURLs = {url};
    auto *data = new QMimeData;
    data->setUrls(copiedURLs);
    QGuiApplication::clipboard()->setMimeData(data);
}
