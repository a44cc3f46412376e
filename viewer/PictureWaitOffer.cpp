// The offer to keep waiting for a slow picture.
#include "viewer/PictureWaitOffer.h"

#include "platform/files/names/FileNames.h"

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

PictureWaitOffer::PictureWaitOffer(PictureLoader *loader, QWidget *over)
    : QFrame(over), m_loader(loader), m_text(new QLabel(this)), m_keep(new QPushButton(tr("Keep Waiting"), this)),
      m_stop(new QPushButton(tr("Stop"), this))
{
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto *row = new QHBoxLayout(this);
    row->addWidget(m_text, 1);
    row->addWidget(m_keep);
    row->addWidget(m_stop);
    hide();
    over->installEventFilter(this);
    connect(loader, &PictureLoader::waitOffered, this, &PictureWaitOffer::offer);
    connect(loader, &PictureLoader::waitOver, this, [this](const PictureKey &key) {
        if (m_key == key) {
            m_key.reset();
            hide();
        }
    });
    connect(m_keep, &QPushButton::clicked, this, [this] {
        if (m_key)
            m_loader->keepWaiting(*m_key);
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_key)
            m_loader->stopWaiting(*m_key);
    });
}

void PictureWaitOffer::offer(const PictureKey &key)
{
    // Nobody sees a window that is not shown: the decode ends at its time.
    if (!parentWidget()->isVisible()) {
        m_loader->stopWaiting(key);
        return;
    }
    m_key = key;
    m_text->setText(tr("\u201c%1\u201d is taking long to open.")
                        .arg(lg::FileNames::shown(QFileInfo(key.path).fileName())));
    place();
    show();
    raise();
}

void PictureWaitOffer::place()
{
    const QWidget *over = parentWidget();
    const QSize wanted = sizeHint();
    const int width = std::min(over->width(), std::max(wanted.width(), over->width() / 2));
    setGeometry((over->width() - width) / 2, 0, width, wanted.height());
}

bool PictureWaitOffer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible())
        place();
    // The window that goes takes what it offered along.
    if (watched == parentWidget() && event->type() == QEvent::Hide && m_key)
        m_loader->stopWaiting(*m_key);
    return QFrame::eventFilter(watched, event);
}
