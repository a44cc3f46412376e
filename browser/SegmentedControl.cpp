#include "browser/SegmentedControl.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

SegmentedControl::SegmentedControl(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idClicked, this, &SegmentedControl::segmentClicked);
    setStyleSheet(QStringLiteral(
        "QToolButton { background: #333333; border: 1px solid #444444; padding: 1px 6px; }"
        "QToolButton:checked { background: #4a4a4a; }"
        "QToolButton:hover { background: #3d3d3d; }"));
}

void SegmentedControl::addSegment(const QIcon &icon, const QString &toolTip)
{
    auto *button = new QToolButton(this);
    button->setIcon(icon);
    button->setIconSize(QSize(16, 16));
    button->setCheckable(true);
    button->setToolTip(toolTip);
    button->setAutoRaise(false);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedHeight(22);
    m_group->addButton(button, int(m_buttons.size()));
    m_buttons.append(button);
    layout()->addWidget(button);
    if (m_buttons.size() == 1)
        button->setChecked(true);
}

int SegmentedControl::selectedSegment() const
{
    return m_group->checkedId();
}

void SegmentedControl::setSelectedSegment(int segment)
{
    if (segment < 0 || segment >= m_buttons.size())
        return;
    m_buttons.at(segment)->setChecked(true);
}

QToolButton *SegmentedControl::button(int segment) const
{
    return segment >= 0 && segment < m_buttons.size() ? m_buttons.at(segment) : nullptr;
}
