// The viewer's slideshow: its start and stop, its step timer, its speed and its transitions.
#include "viewer/ViewerSlideshow.h"

#include "controls/CursorButtons.h"
#include "platform/runtime/Timer.h"
#include "viewer/ViewerIcons.h"
#include "viewer/viewimagevc.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

ViewerSlideshow::ViewerSlideshow(viewimagevc *viewer) : QObject(viewer), m_viewer(viewer) {}

void ViewerSlideshow::toggle()
{
    if (!m_viewer->isSlideShowRunning) {
        m_viewer->btnslideShow->setShortcut(QKeySequence(Qt::Key_Escape));
        m_viewer->btnCLoseviewImage->setShortcut(QKeySequence());
        m_viewer->slider->setEnabled(false);
        m_viewer->btnzoomin->setEnabled(false);
        m_viewer->btnZoomout->setEnabled(false);
        m_viewer->isSlideShowRunning = true;
        if (!m_viewer->timerAutoplay) {
            m_viewer->timerAutoplay = new lg::Timer(m_viewer);
            m_viewer->timerAutoplay->setSingleShot(false);
            connect(m_viewer->timerAutoplay, &lg::Timer::timeout, m_viewer, &viewimagevc::autoplaycall);
        }
        m_viewer->timerAutoplay->start(std::max(1, m_viewer->selectedTimeIntervel) * 1000);
        m_viewer->btnslideShow->setIcon(viewericons::icon(QStringLiteral("pause-icon-18-256")));
        return;
    }
    m_viewer->btnCLoseviewImage->setShortcut(QKeySequence(Qt::Key_Escape));
    m_viewer->btnslideShow->setShortcut(QKeySequence());
    m_viewer->btnslideShow->setIcon(viewericons::icon(QStringLiteral("play-icon-18-256")));
    if (m_viewer->timerAutoplay)
        m_viewer->timerAutoplay->stop();
    m_viewer->isSlideShowRunning = false;
    m_viewer->slider->setEnabled(true);
    m_viewer->btnzoomin->setEnabled(true);
    m_viewer->btnZoomout->setEnabled(true);
}

void ViewerSlideshow::tick()
{
    if (m_viewer->isSlideShowRunning) {
        m_viewer->showNextItem();
        return;
    }
    // A tick for a stopped slideshow: the controls come back to rest.
    if (m_viewer->timerAutoplay)
        m_viewer->timerAutoplay->stop();
    m_viewer->btnslideShow->setIcon(viewericons::icon(QStringLiteral("play-icon-18-256")));
    m_viewer->slider->setEnabled(true);
    m_viewer->btnzoomin->setEnabled(true);
    m_viewer->btnZoomout->setEnabled(true);
    m_viewer->btnslideShow->setShortcut(QKeySequence());
    m_viewer->btnCLoseviewImage->setShortcut(QKeySequence(Qt::Key_Escape));
}

void ViewerSlideshow::restartTimer()
{
    if (!m_viewer->isSlideShowRunning || !m_viewer->timerAutoplay)
        return;
    m_viewer->timerAutoplay->start(std::max(1, m_viewer->selectedTimeIntervel) * 1000);
}

QMenu *ViewerSlideshow::speedMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    for (const QString &entry : m_viewer->speedTimearray) {
        const int seconds = entry.toInt();
        QAction *action = menu->addAction(entry + QStringLiteral("s"));
        action->setData(seconds);
        action->setCheckable(true);
        action->setChecked(seconds == m_viewer->selectedTimeIntervel);
        connect(action, &QAction::triggered, m_viewer,
                [viewer = m_viewer, action] { viewer->menuClicked_PlaySpeedWithSender(action); });
    }
    return menu;
}

void ViewerSlideshow::chooseSpeed(QAction *sender)
{
    if (!sender)
        return;
    const int seconds = sender->data().toInt();
    if (seconds < 1)
        return;
    m_viewer->selectedTimeIntervel = seconds;
    if (m_viewer->isSlideShowRunning && m_viewer->timerAutoplay)
        m_viewer->timerAutoplay->start(m_viewer->selectedTimeIntervel * 1000);
}

QMenu *ViewerSlideshow::transitionsMenu(QWidget *parent)
{
    using Action = void (viewimagevc::*)();
    struct Kind
    {
        const char *title;
        Action actions[4];
    };
    const Kind kinds[] = {
        {"Fade", {&viewimagevc::fadeFromLeft, &viewimagevc::fadeFromRight, &viewimagevc::fadeFromTop,
                  &viewimagevc::fadeFromBottum}},
        {"Push", {&viewimagevc::pushFromLeft, &viewimagevc::pushFromRight, &viewimagevc::pushFromTop,
                  &viewimagevc::pushFromBottum}},
        {"Reveal", {&viewimagevc::revealFromLeft, &viewimagevc::revealFromRight, &viewimagevc::revealFromTop,
                    &viewimagevc::revealFromBottum}},
        {"MoveIn", {&viewimagevc::moveinlFromLeft, &viewimagevc::moveinFromRight, &viewimagevc::moveinFromTop,
                    &viewimagevc::moveinFromBottum}},
    };
    const char *directions[] = {"From Left", "From Right", "From Top", "From Bottom"};
    auto *menu = new QMenu(parent);
    for (int kind = 0; kind < 4; ++kind) {
        auto *submenu = new QMenu(QString::fromLatin1(kinds[kind].title), menu);
        for (int direction = 0; direction < 4; ++direction) {
            QAction *action = submenu->addAction(QString::fromLatin1(directions[direction]));
            action->setCheckable(true);
            action->setChecked(m_viewer->selectedTransition == kind + 1
                               && m_viewer->selectedTransition_From == direction + 1);
            connect(action, &QAction::triggered, m_viewer, kinds[kind].actions[direction]);
        }
        menu->addMenu(submenu);
    }
    return menu;
}

void ViewerSlideshow::setTransition(int kind, int direction)
{
    m_viewer->selectedTransition = kind;
    m_viewer->selectedTransition_From = direction;
}
