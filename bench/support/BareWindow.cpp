// The cold-start benchmark's yardstick: a bare Qt Widgets window of 30 icons,
// linked to Qt Widgets alone, shown at once.
#include <QApplication>
#include <QGridLayout>
#include <QStyle>
#include <QToolButton>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare Qt window"));
    auto *grid = new QGridLayout(&window);
    for (int i = 0; i < 30; ++i) {
        auto *button = new QToolButton(&window);
        button->setIcon(window.style()->standardIcon(QStyle::StandardPixmap(QStyle::SP_TitleBarMenuButton + i)));
        button->setIconSize(QSize(48, 48));
        button->setText(QStringLiteral("Icon %1").arg(i + 1));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        grid->addWidget(button, i / 6, i % 6);
    }
    window.resize(1000, 700);
    window.show();
    return app.exec();
}
