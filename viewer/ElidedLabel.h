#pragma once
// A one-line label that shows a text too long for its width cut in the middle
// with "…", so that both the start and the end (a file's extension) show. It
// is cut again whenever its width or font changes; text() is what shows.
// Main thread.
#include <QLabel>

class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    // Takes the whole text and shows it, cut to the width where needed.
    void setText(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();
    QString m_fullText;
};
