#pragma once
// Row, cell and field classes of the lists, outlines and text fields.
#include <QLineEdit>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QTreeView>

class QAbstractItemView;

// The look of a selected row: a list or outline whose style this is fills
// each selected row in rowSelectionColor under its cells (branch area
// included), and draws everything else as its own style does.
class TableRowViewResult : public QProxyStyle
{
    Q_OBJECT
public:
    TableRowViewResult();

    // Gives view this row look (one shared style object, kept for the run).
    static void install(QAbstractItemView *view);

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};

// A cell whose text is drawn, edited and selected vertically centred in the
// cell, at the text's natural height.
class CustomTextFieldCell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit CustomTextFieldCell(QObject *parent = nullptr);

    // The rectangle, centred vertically in titleRect, of the given natural height.
    static QRect centredTitleRect(const QRect &titleRect, int naturalHeight);

    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

// A text field that performs the standard editing shortcuts itself, whatever
// menus or shortcuts the window has: with exactly Ctrl, X cuts, C copies,
// V pastes, Z undoes, A selects all; with exactly Ctrl+Shift, Z redoes. Any
// other combination is the line edit's own business.
class Editing : public QLineEdit
{
    Q_OBJECT
public:
    explicit Editing(QWidget *parent = nullptr);

    const Qt::KeyboardModifiers commandKey;
    const Qt::KeyboardModifiers commandShiftKey;

    // Performs the editing action of a key press; true when it was one.
    bool performKeyEquivalent(QKeyEvent *event);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    enum Action { NoAction, Cut, Copy, Paste, Undo, Redo, SelectAll };
    Action actionFor(const QKeyEvent *event) const;
};

// An outline whose disclosure arrows are the images "smallArrow" (collapsed)
// and "smallArrowDown" (expanded), each 15 x 15.
class rightOutlineView : public QTreeView
{
    Q_OBJECT
public:
    static constexpr int kArrowSize = 15;

    explicit rightOutlineView(QWidget *parent = nullptr);

    // The arrow images, by name: "smallArrow" and "smallArrowDown".
    static QPixmap arrowImage(const QString &name, qreal devicePixelRatio = 1.0);
    // Where the arrow of a row with its branch area in branchRect is drawn.
    QRect arrowRect(const QRect &branchRect) const;

protected:
    void drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const override;
};
