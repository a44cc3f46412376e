#pragma once
// The one main window. Its content is switched between the welcome screen, the
// home screen and the content hub; window events are passed to the screen on show.
#include <QMainWindow>

class QToolBar;
namespace lg { class Timer; }

class mainWindowController : public QMainWindow
{
    Q_OBJECT
public:
    explicit mainWindowController(QWidget *parent = nullptr);

    // The window's toolbar; none unless a screen provides one.
    QToolBar *toolbar = nullptr;

    // The widget that fills the window. The previous one is taken out, not deleted:
    // the screens live for the whole run.
    void setContentViewController(QWidget *content);
    QWidget *contentViewController() const;
    // Whether the user can resize the window (off for the home and welcome screens).
    void setResizable(bool resizable);
    bool isResizable() const;
    void showWindow();
    bool isInFullScreen() const;

    void showhomevc();

    // Window events, named after what they report.
    void windowDidLoad();
    void windowWillEnterFullScreen();
    void windowDidEnterFullScreen();
    void windowWillExitFullScreen();
    void windowDidExitFullScreen();
    void windowWillStartLiveResize();
    void windowDidResize();
    void windowDidEndLiveResize();
    void windowDidMiniaturize();
    void windowDidDeminiaturize();
    void windowDidExpose();
    bool windowShouldClose();
    void resize();
    using QMainWindow::resize;

    // How long the window must stay still before a resize by hand counts as ended.
    static constexpr int liveResizeSettleMs = 250;

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    lg::Timer *m_liveResizeEnd = nullptr;
    bool m_liveResizing = false;
    bool m_exposed = false;
    bool m_resizable = true;
};
