#include "platform/Alert.h"

#include "platform/DialogTracker.h"
#include "platform/Dispatch.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>


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

constexpr int kMinimumTextWidth = 380;

QMessageBox::Icon iconFor(AlertSpec::Style style)
{
    switch (style) {
    case AlertSpec::Style::Informational:
        return QMessageBox::Information;
    case AlertSpec::Style::Warning:
        return QMessageBox::Warning;
    case AlertSpec::Style::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::Warning;
}

void showMessageBox(QWidget *parent, const AlertSpec &spec, Alert::Callback done)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("lgAlert"));
    box->setWindowTitle(QGuiApplication::applicationDisplayName());
    box->setIcon(iconFor(spec.style));
    box->setTextFormat(Qt::PlainText);
    box->setText(spec.title);
    box->setInformativeText(spec.text);
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    // A readable width, so that short texts sit on a line or two instead of a narrow column.
    for (QLabel *label : box->findChildren<QLabel *>()) {
        if (label->objectName() == QLatin1String("qt_msgbox_label")
            || label->objectName() == QLatin1String("qt_msgbox_informativelabel"))
            label->setMinimumWidth(kMinimumTextWidth);
    }

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

    QObject::connect(box, &QDialog::finished, box, [box, buttons, done] {
        const int index = buttons.indexOf(box->clickedButton());
        if (index >= 0 && done)
            done(index);
    });

    state().dialogs.present(parent, box);
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
    if (!s.responder) {
        showMessageBox(parent, spec, std::move(done));
        return;
    }
    s.shown.append(spec);
    const int index = s.responder(spec);
    s.dialogs.deliver([index, done = std::move(done)] {
        if (done)
            done(index);
    });
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
