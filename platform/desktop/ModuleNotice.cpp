// The module problems, said in the main window.
#include "platform/desktop/ModuleNotice.h"

#include "platform/desktop/Alert.h"
#include "platform/modules/Modules.h"
#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <mutex>

namespace lg {

namespace {

struct Pending
{
    std::mutex mutex;
    QList<image::ModuleProblem> problems;   // found, not said yet
    QPointer<QWidget> window;
    // Main thread only: the alert of ours still open (0: none), and the last one's number.
    quint64 openAlert = 0;
    quint64 lastAlert = 0;
};

Pending &pending()
{
    static Pending *instance = new Pending;   // never destroyed: loads may fail on pool threads at exit
    return *instance;
}

void sayPending();

// Main thread: the alert numbered alert is gone, answered or closed without
// an answer; what was found meanwhile is said now.
void alertGone(quint64 alert)
{
    Pending &p = pending();
    if (p.openAlert != alert)
        return;
    p.openAlert = 0;
    bool waiting = false;
    {
        std::lock_guard lock(p.mutex);
        waiting = !p.problems.isEmpty();
    }
    if (waiting)
        sayPending();
}

// Held by the alert's answer: when the alert is closed without one, its
// answer goes, and with it this.
struct OpenAlert
{
    quint64 number = 0;
    ~OpenAlert()
    {
        if (QCoreApplication *app = QCoreApplication::instance(); app && number != 0)
            QMetaObject::invokeMethod(app, [alert = number] { alertGone(alert); }, Qt::QueuedConnection);
    }
};

// One alert for the problems: a single one's own words, else each kind with
// its reason and what may help, once.
AlertSpec moduleProblemsAlert(const QList<image::ModuleProblem> &found)
{
    QList<image::ModuleProblem> problems = found;
    std::stable_sort(problems.begin(), problems.end(),
                     [](const image::ModuleProblem &a, const image::ModuleProblem &b) { return a.module < b.module; });
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    if (problems.size() == 1) {
        spec.title = problems.constFirst().title;
        spec.text = problems.constFirst().text;
        return spec;
    }
    spec.title = QStringLiteral("Some kinds of files cannot be shown");
    QStringList paragraphs;
    QStringList advice;
    for (const image::ModuleProblem &problem : std::as_const(problems)) {
        paragraphs << problem.title + QStringLiteral(". ") + problem.reason;
        if (!problem.advice.isEmpty() && !advice.contains(problem.advice))
            advice << problem.advice;
    }
    if (!advice.isEmpty())
        paragraphs << advice.join(QLatin1Char(' '));
    spec.text = paragraphs.join(QStringLiteral("\n\n"));
    return spec;
}

// Main thread: says every problem waiting, in one alert, unless one of ours
// is open: they are said when it is gone, never stacked on it.
void sayPending()
{
    Pending &p = pending();
    if (p.openAlert != 0)
        return;
    QList<image::ModuleProblem> problems;
    QWidget *window = nullptr;
    {
        std::lock_guard lock(p.mutex);
        problems.swap(p.problems);
        window = p.window;
    }
    if (problems.isEmpty())
        return;
    const quint64 number = ++p.lastAlert;
    p.openAlert = number;
    auto open = std::make_shared<OpenAlert>();
    open->number = number;
    Alert::show(window, moduleProblemsAlert(problems), [open](int) { alertGone(open->number); });
}

} // namespace

void showModuleProblemsIn(QWidget *window)
{
    {
        std::lock_guard lock(pending().mutex);
        pending().window = window;
    }
    image::setModuleProblemHandler([](const QList<image::ModuleProblem> &problems) {
        bool first = false;
        {
            std::lock_guard lock(pending().mutex);
            first = pending().problems.isEmpty();
            pending().problems.append(problems);
        }
        // Problems found until the main thread takes them share one alert.
        if (first)
            onMain(sayPending);
    });
}

} // namespace lg
