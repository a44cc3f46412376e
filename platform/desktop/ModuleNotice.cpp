// The module problems, said in the main window.
#include "platform/desktop/ModuleNotice.h"

#include "platform/desktop/Alert.h"
#include "platform/image/Modules.h"
#include "platform/runtime/Dispatch.h"

#include <QPointer>
#include <QWidget>

#include <mutex>
#include <vector>

namespace lg {

namespace {

struct Pending
{
    std::mutex mutex;
    std::vector<image::ModuleProblem> problems;
    QPointer<QWidget> window;
};

Pending &pending()
{
    static Pending *instance = new Pending;   // never destroyed: loads may fail on pool threads at exit
    return *instance;
}

// Main thread: says every problem waiting, in one sheet.
void sayPending()
{
    Pending &p = pending();
    std::vector<image::ModuleProblem> problems;
    QWidget *window = nullptr;
    {
        std::lock_guard lock(p.mutex);
        problems.swap(p.problems);
        window = p.window;
    }
    if (problems.empty())
        return;
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    QStringList texts;
    for (const image::ModuleProblem &problem : problems) {
        if (spec.title.isEmpty())
            spec.title = problem.title;
        else
            texts << problem.title + QLatin1Char('.');
        texts << problem.text;
    }
    if (problems.size() > 1)
        spec.title += QLatin1Char('.');
    spec.text = texts.join(QLatin1Char(' '));
    Alert::show(window, spec);
}

} // namespace

void showModuleProblemsIn(QWidget *window)
{
    {
        std::lock_guard lock(pending().mutex);
        pending().window = window;
    }
    image::setModuleProblemHandler([](const image::ModuleProblem &problem) {
        bool first = false;
        {
            std::lock_guard lock(pending().mutex);
            first = pending().problems.empty();
            pending().problems.push_back(problem);
        }
        // Problems found until the main thread takes them share one sheet.
        if (first)
            onMain(sayPending);
    });
}

} // namespace lg
