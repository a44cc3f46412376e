#pragma once
// A row of segments of which exactly one is selected, like the grid / list /
// viewer switch of the title bar.
#include <QIcon>
#include <QList>
#include <QWidget>

class QButtonGroup;
class QToolButton;

class SegmentedControl : public QWidget
{
    Q_OBJECT
public:
    explicit SegmentedControl(QWidget *parent = nullptr);

    // Adds a segment; the first one added is selected.
    void addSegment(const QIcon &icon, const QString &toolTip);
    int selectedSegment() const;
    // Selects a segment without reporting it (out-of-range values do nothing).
    void setSelectedSegment(int segment);
    QToolButton *button(int segment) const;

Q_SIGNALS:
    // The user clicked a segment (also the one already selected).
    void segmentClicked(int segment);

private:
    QButtonGroup *m_group = nullptr;
    QList<QToolButton *> m_buttons;
};
