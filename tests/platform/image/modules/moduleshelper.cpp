// A program that loads the HEIC module on request, for the tests of how the
// codec modules are found and trusted: it finds them as the program does, from
// where its executable lies. It reads one command a line on stdin and answers
// on stdout, each answer ending with "done":
//   heif PATH   "heif WxH" from the module's probe of PATH, or "heif none: ERROR"
//   maps        "mapped PATH" for each module file mapped in the process
// A module problem meant for the window is printed as "problem TITLE | TEXT".
#include "platform/image/ByteSource.h"
#include "platform/image/Decoders.h"
#include "platform/image/Modules.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void print(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main()
{
    lg::image::setModuleProblemHandler([](const lg::image::ModuleProblem &problem) {
        print(QStringLiteral("problem %1 | %2").arg(problem.title, problem.text));
    });
    print(QStringLiteral("ready"));
    std::string line;
    while (std::getline(std::cin, line)) {
        const QString command = QString::fromStdString(line);
        if (command.startsWith(QLatin1String("heif "))) {
            const lg::image::HeifInfo info = lg::image::probeHeif(lg::image::ByteSource::openFile(command.mid(5)));
            if (info.ok)
                print(QStringLiteral("heif %1x%2").arg(info.size.width()).arg(info.size.height()));
            else
                print(QStringLiteral("heif none: ") + lg::image::moduleError(lg::image::Module::Heif));
        } else if (command == QLatin1String("maps")) {
            QFile maps(QStringLiteral("/proc/self/maps"));
            if (maps.open(QIODevice::ReadOnly))
                for (const QByteArray &mapping : maps.readAll().split('\n'))
                    if (mapping.contains("lumengallery_"))
                        print(QStringLiteral("mapped ") + QString::fromLocal8Bit(mapping.mid(mapping.indexOf('/'))));
        }
        print(QStringLiteral("done"));
    }
    return 0;
}
