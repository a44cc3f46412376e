#pragma once
// The split view of the hub: the sidebar on the left, the content on the right.
#include <QWidget>

class QSplitter;

class splitvc : public QWidget
{
    Q_OBJECT
public:
    explicit splitvc(QWidget *parent = nullptr);

    QSplitter *splitView() const { return m_splitter; }
    QWidget *item = nullptr;   // the sidebar's pane
    QWidget *item2 = nullptr;  // the content's pane

    static constexpr int sidebarMinimumThickness = 20;

    void viewDidLoad();
    void viewDidAppear();
    void splitViewDidResizeSubviews();
    // Recomputes the sidebar's width limit.
    void resize();
    using QWidget::resize;
    // A quarter of the window's width.
    int sidebarMaximumThickness() const;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateSidebarMaximum();
    QSplitter *m_splitter = nullptr;
};
