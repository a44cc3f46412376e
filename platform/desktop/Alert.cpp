// Window-modal alerts with fixed texts and buttons, answered by a responder in tests.
#include "platform/desktop/Alert.h"

#include "platform/desktop/AccentColour.h"
#include "platform/desktop/DialogTracker.h"
#include "platform/runtime/Dispatch.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <algorithm>


namespace lg {

namespace {

// Main-thread state.
struct AlertState
{
    Alert::Responder responder;
    QList<AlertSpec> shown;
    detail::DialogTracker dialogs;
};

AlertState &state()
{
    static AlertState s;
    return s;
}

// The sheet's width: a comfortable measure for its text, never wider than the
// window it belongs to (less a margin on each side) or, without one, the screen.
constexpr int kComfortableWidth = 460;
constexpr int kNarrowestWidth = 300;
constexpr int kWindowMargin = 24;
constexpr int kIconSide = 48;

// The sheet's icon in the dark look: a round badge in the accent colour (red
// for a critical alert) with a dark mark, "i" or "!", on the window colour.
QPixmap darkIcon(AlertSpec::Style style, int side, qreal ratio)
{
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor badge = style == AlertSpec::Style::Critical ? QColor(0xd9, 0x4a, 0x3d) : accentColour();
    const QColor mark(0x1e, 0x1e, 0x1e);
    const QRectF area(1, 1, side - 2, side - 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(badge);
    painter.drawEllipse(area);
    painter.setBrush(mark);
    const qreal x = side / 2.0;
    const qreal stroke = side / 9.0;
    const bool info = style == AlertSpec::Style::Informational;
    // The dot and the bar, "i" with the dot above, "!" with it below.
    const qreal dotY = info ? side * 0.27 : side * 0.74;
    painter.drawEllipse(QPointF(x, dotY), stroke * 0.75, stroke * 0.75);
    const QRectF bar = info ? QRectF(x - stroke / 2, side * 0.40, stroke, side * 0.36)
                            : QRectF(x - stroke / 2, side * 0.20, stroke, side * 0.42);
    painter.drawRoundedRect(bar, stroke / 2, stroke / 2);
    return pixmap;
}

// The text with a break opportunity (a zero-width space) inside every run of
// more than maxRun characters without one, so that a long name or path wraps
// instead of running past the sheet's edge.
QString breakable(const QString &text)
{
    constexpr int maxRun = 24;
    QString out;
    out.reserve(text.size() + text.size() / maxRun);
    int run = 0;
    for (const QChar c : text) {
        if (c.isSpace() || c == QChar(0x200B)) {
            run = 0;
        } else if (run >= maxRun) {
            out.append(QChar(0x200B));
            run = 0;
        }
        out.append(c);
        ++run;
    }
    return out;
}

// A message box that sizes itself to its text: the labels wrap (at word
// boundaries, and inside long words where breakable() allows it) and
// the box is as tall as the wrapped text, as wide as the text needs up to
// a comfortable measure, and never wider than its window.
class AlertBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);   // sizes the box its own way first
        fitToText();
    }
    bool event(QEvent *event) override
    {
        // QMessageBox lays its text out on one line again at every layout
        // request; the box keeps its own layout instead.
        if (event->type() != QEvent::LayoutRequest)
            return QMessageBox::event(event);
        const bool done = QDialog::event(event);
        if (isVisible())
            fitToText();
        return done;
    }
    void changeEvent(QEvent *event) override
    {
        QMessageBox::changeEvent(event);
        if (isVisible() && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
            fitToText();
    }

private:
    int widestAllowed() const
    {
        const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
        if (owner && owner->isVisible())
            return std::max(kNarrowestWidth, owner->width() - 2 * kWindowMargin);
        const QScreen *shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
        return shownOn ? std::max(kNarrowestWidth, shownOn->availableGeometry().width() - 2 * kWindowMargin)
                       : kComfortableWidth;
    }

    // Changes only what differs, so that a settled box asks for no new layout.
    void fitToText()
    {
        QList<QLabel *> texts;
        for (const char *name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
            if (auto *label = findChild<QLabel *>(QLatin1String(name)); label && !label->text().isEmpty())
                texts.append(label);
        }
        if (texts.isEmpty() || !layout())
            return;
        layout()->activate();
        // What the labels do not get of the width: the margins, the icon and
        // the spacing left of the text, the margin right of it.
        const int chrome = texts.first()->x() + layout()->contentsMargins().right();
        int natural = 0;
        for (QLabel *label : texts) {
            const QMargins margins = label->contentsMargins();
            for (const QString &line : label->text().split(QLatin1Char('\n')))
                natural = std::max(natural, label->fontMetrics().horizontalAdvance(line) + margins.left()
                                                + margins.right() + 2 * label->margin());
        }
        const int widest = widestAllowed();
        int width = std::clamp(natural + chrome, std::min(kNarrowestWidth, widest), std::min(kComfortableWidth, widest));
        // The buttons in one row are never cut off either.
        if (auto *buttons = findChild<QDialogButtonBox *>())
            width = std::max(width, std::min(widest, buttons->sizeHint().width() + chrome));
        const int textWidth = std::max(1, width - chrome);
        for (QLabel *label : texts) {
            if (!label->wordWrap())
                label->setWordWrap(true);
            QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Minimum);
            policy.setHeightForWidth(true);
            if (label->sizePolicy() != policy)
                label->setSizePolicy(policy);
            if (label->minimumWidth() != textWidth || label->maximumWidth() != textWidth)
                label->setFixedWidth(textWidth);
            const int height = label->heightForWidth(textWidth);
            if (label->minimumHeight() != height)
                label->setMinimumHeight(height);
        }
        layout()->activate();
        const QSize wanted(std::max(width, layout()->minimumSize().width()), layout()->minimumSize().height());
        if (minimumSize() != wanted || maximumSize() != wanted)
            setFixedSize(wanted);
    }
};

// The callback with the do-nothing button, or nothing without one.
detail::DialogTracker::QuitAnswer quitAnswer(int doNothing, const Alert::Callback &done)
{
    if (doNothing < 0 || !done)
        return {};
    return [doNothing, done] { done(doNothing); };
}

void showMessageBox(QWidget *parent, const AlertSpec &spec, Alert::Callback done)
{
    auto *box = new AlertBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("lgAlert"));
    box->setWindowTitle(QGuiApplication::applicationDisplayName());
    box->setIconPixmap(darkIcon(spec.style, kIconSide, std::max(2.0, box->devicePixelRatioF())));
    box->setTextFormat(Qt::PlainText);
    box->setText(breakable(spec.title));
    box->setInformativeText(breakable(spec.text));
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    // One role for every button keeps them in the given order.
    const QStringList names = spec.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : spec.buttons;
    QList<QAbstractButton *> buttons;
    for (const QString &name : names)
        buttons.append(box->addButton(name, QMessageBox::ActionRole));
    box->setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    // Escape answers with a "Cancel" button, or the only button; otherwise
    // neither Escape nor the window's close button ends the alert.
    for (QAbstractButton *button : buttons) {
        if (button->text().compare(QStringLiteral("Cancel"), Qt::CaseInsensitive) == 0)
            box->setEscapeButton(button);
    }
    if (buttons.size() == 1)
        box->setEscapeButton(buttons.first());

    // Once the program is quitting, a click (or Escape) says only "do nothing".
    const int doNothing = Alert::doNothingIndex(spec);
    QObject::connect(box, &QDialog::finished, box, [box, buttons, done, doNothing] {
        const int index = isShuttingDown() ? doNothing : int(buttons.indexOf(box->clickedButton()));
        if (index >= 0 && done)
            done(index);
    });

    state().dialogs.present(parent, box, quitAnswer(doNothing, std::move(done)));
}

} // namespace

void Alert::show(QWidget *parent, const AlertSpec &spec, Callback done)
{
    if (!isMainThread()) {
        QPointer<QWidget> guard(parent);
        const bool hadParent = parent != nullptr;
        onMain([guard, hadParent, spec, done] {
            if (!hadParent || guard)
                show(guard, spec, done);
        });
        return;
    }
    AlertState &s = state();
    if (!s.responder || isShuttingDown()) {
        // Once quitting, nothing is shown or asked: the tracker answers.
        showMessageBox(parent, spec, std::move(done));
        return;
    }
    s.shown.append(spec);
    const int index = s.responder(spec);
    const detail::DialogTracker::QuitAnswer atQuit = quitAnswer(doNothingIndex(spec), done);
    s.dialogs.deliver([index, done = std::move(done)] {
        if (done)
            done(index);
    }, atQuit);
}

int Alert::doNothingIndex(const AlertSpec &spec)
{
    const QStringList names = spec.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : spec.buttons;
    if (spec.doNothingButton >= 0)
        return spec.doNothingButton < names.size() ? spec.doNothingButton : -1;
    int found = -1;
    for (int i = 0; i < names.size(); ++i) {
        const QString name = names.at(i).trimmed();
        for (const char *word : {"Cancel", "Stop", "No"}) {
            if (name.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
                found = i;
        }
        if (name.startsWith(QStringLiteral("Don't"), Qt::CaseInsensitive)
            || name.startsWith(QStringLiteral("Don’t"), Qt::CaseInsensitive))
            found = i;
    }
    if (found < 0 && names.size() == 1)
        found = 0;
    return found;
}

void Alert::answerAllForQuit()
{
    state().dialogs.answerAllForQuit();
}

int Alert::openCount()
{
    return state().dialogs.openCount();
}

QWidget *Alert::activeWindow()
{
    return QApplication::activeWindow();
}

void Alert::inform(QWidget *parent, const QString &title, const QString &text, Callback done)
{
    AlertSpec spec;
    spec.title = title;
    spec.text = text;
    spec.buttons = {QStringLiteral("OK")};
    show(parent, spec, std::move(done));
}

void Alert::setResponder(Responder responder)
{
    state().responder = std::move(responder);
    state().shown.clear();
}

QList<AlertSpec> Alert::shownAlerts()
{
    return state().shown;
}

void Alert::clearShownAlerts()
{
    state().shown.clear();
}

void Alert::closeAll()
{
    state().dialogs.closeAll();
}

} // namespace lg
