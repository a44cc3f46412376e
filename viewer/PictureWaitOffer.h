#pragma once
// The viewer's offer to keep waiting for a picture whose decode runs past its
// time: a bar along the top of the window it is put over, naming the file,
// with Keep Waiting and Stop (PictureLoader::waitOffered). It never holds the
// window: everything else goes on while it shows, and moving to another
// picture, the window's hiding or the quit ends the wait as Stop does (a
// decode that passes its time while the window is hidden is not offered but
// ends). Main thread.
#include "viewer/PictureLoader.h"

#include <QFrame>

#include <optional>

class QLabel;
class QPushButton;

class PictureWaitOffer : public QFrame
{
    Q_OBJECT
public:
    // Shows over the top of over (its parent) the offers of loader.
    PictureWaitOffer(PictureLoader *loader, QWidget *over);

    QLabel *text() const { return m_text; }
    QPushButton *keepWaitingButton() const { return m_keep; }
    QPushButton *stopButton() const { return m_stop; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void offer(const PictureKey &key);
    void place();

    PictureLoader *m_loader;
    QLabel *m_text;
    QPushButton *m_keep;
    QPushButton *m_stop;
    std::optional<PictureKey> m_key;
};
