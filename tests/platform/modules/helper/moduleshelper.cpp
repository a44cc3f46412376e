// A program that loads the codec modules on request, for the tests of how they
// are found and trusted: it finds them as the program does, from where its
// executable lies. Each argument names a stand-in HEIC module file whose bytes
// it takes as this build's (the tests' own modules). It reads one command a
// line on stdin and answers on stdout, each answer ending with "done":
//   heif PATH    "heif WxH" from the module's probe of PATH, or "heif none: ERROR"
//   show PATH    "show WxH", the picture read whole, or "show none: ERRORS"
//   video PATH   "video WxH" from the video module, or "video none: ERROR"
//   player       "player ready" once the player module is loaded, or "player none: ERROR"
//   maps         "mapped PATH" for each module file mapped in the process
//   object       "object NAME": the name the HEIC module was loaded by
//   nomemexec    from now on, behave as a system that refuses to run code from
//                memory files; "nomemexec set"
//   swap FROM<TAB>TO   once a module is checked, right before it is loaded, the
//                bytes of FROM are written over the file TO in place; "swap set"
//   rewrite FROM<TAB>TO   while a module is read (once its size and times were
//                taken), the bytes of FROM are written over the file TO in
//                place; "rewrite set"
//   finds TEXT   "finds yes" when TEXT is anywhere in the pages the HEIC
//                module's segments are mapped in, else "finds no"
// A module problem meant for the window is printed as "problem TITLE | TEXT",
// a warning in the log as "log TEXT".
#include "platform/image/ByteSource.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/Decoders.h"
#include "platform/image/ImageSource.h"
#include "platform/modules/Modules.h"
#include "platform/image/VideoInfo.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <iostream>
#include <string>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace {

void print(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Writes the bytes of the file from over the file to, in place.
void writeOver(const QString &from, const QString &to)
{
    QFile source(from), target(to);
    if (source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        target.write(source.readAll());
}

// Whether text lies in the pages the segments of the library that holds
// address are mapped in, from the start of each one's first page to the end
// of its last.
bool mappedPagesHold(const void *address, const QByteArray &text)
{
    Dl_info info = {};
    if (!::dladdr(address, &info) || !info.dli_fbase)
        return false;
    struct Search
    {
        const void *base;
        QByteArray text;
        bool found = false;
    } search {info.dli_fbase, text};
    ::dl_iterate_phdr(
        [](struct dl_phdr_info *object, size_t, void *data) {
            auto *s = static_cast<Search *>(data);
            if (reinterpret_cast<const void *>(object->dlpi_addr) != s->base)
                return 0;
            const quintptr page = quintptr(::sysconf(_SC_PAGESIZE));
            for (int i = 0; i < object->dlpi_phnum; ++i) {
                const ElfW(Phdr) &segment = object->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD)
                    continue;
                const quintptr start = (object->dlpi_addr + segment.p_vaddr) / page * page;
                const quintptr end = (object->dlpi_addr + segment.p_vaddr + segment.p_filesz + page - 1) / page * page;
                const QByteArrayView pages(reinterpret_cast<const char *>(start), qsizetype(end - start));
                s->found = s->found || pages.indexOf(s->text) >= 0;
            }
            return 1;
        },
        &search);
    return search.found;
}

QString errors()
{
    QStringList said;
    for (auto module : {lg::image::Module::Heif, lg::image::Module::Raw, lg::image::Module::Magick})
        if (!lg::image::moduleError(module).isEmpty())
            said << lg::image::moduleError(module);
    return said.join(QStringLiteral("; "));
}

} // namespace

int main(int argc, char **argv)
{
    // The modules are loaded and looked at in this process: pictures are
    // decoded here, not in decode workers.
    lg::image::setDecodesInThisProcess(true);
    for (int i = 1; i < argc; ++i) {
        QFile stub(QString::fromLocal8Bit(argv[i]));
        if (!stub.open(QIODevice::ReadOnly))
            return 2;
        lg::image::acceptModuleForTesting(QStringLiteral("lumengallery_heif.so"), stub.readAll());
    }
    lg::image::setModuleProblemHandler([](const QList<lg::image::ModuleProblem> &problems) {
        for (const lg::image::ModuleProblem &problem : problems)
            print(QStringLiteral("problem %1 | %2").arg(problem.title, problem.text));
    });
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtWarningMsg)
            print(QStringLiteral("log ") + text);
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
        } else if (command.startsWith(QLatin1String("show "))) {
            const std::optional<QImage> image = lg::ImageSource(command.mid(5)).image();
            if (image && !image->isNull())
                print(QStringLiteral("show %1x%2").arg(image->width()).arg(image->height()));
            else
                print(QStringLiteral("show none: ") + errors());
        } else if (command.startsWith(QLatin1String("video "))) {
            const std::optional<lg::VideoProbe> probe = lg::VideoInfo::probe(command.mid(6));
            if (probe)
                print(QStringLiteral("video %1x%2").arg(probe->size.width()).arg(probe->size.height()));
            else
                print(QStringLiteral("video none: ") + lg::image::moduleError(lg::image::Module::Video));
        } else if (command == QLatin1String("player")) {
            if (lg::image::playerModule())
                print(QStringLiteral("player ready"));
            else
                print(QStringLiteral("player none: ") + lg::image::moduleError(lg::image::Module::Player));
        } else if (command.startsWith(QLatin1String("swap "))) {
            const QStringList paths = command.mid(5).split(QLatin1Char('\t'));
            if (paths.size() == 2) {
                lg::image::setModuleCheckedHookForTesting(
                    [from = paths[0], to = paths[1]](lg::image::Module) { writeOver(from, to); });
                print(QStringLiteral("swap set"));
            }
        } else if (command.startsWith(QLatin1String("rewrite "))) {
            const QStringList paths = command.mid(8).split(QLatin1Char('\t'));
            if (paths.size() == 2) {
                lg::image::setModuleReadHookForTesting(
                    [from = paths[0], to = paths[1]](lg::image::Module) { writeOver(from, to); });
                print(QStringLiteral("rewrite set"));
            }
        } else if (command.startsWith(QLatin1String("finds "))) {
            const void *module = lg::image::heifModule();
            print(module && mappedPagesHold(module, command.mid(6).toUtf8()) ? QStringLiteral("finds yes")
                                                                             : QStringLiteral("finds no"));
        } else if (command == QLatin1String("object")) {
            Dl_info info = {};
            if (const void *module = lg::image::heifModule(); module && ::dladdr(module, &info) && info.dli_fname)
                print(QStringLiteral("object ") + QString::fromLocal8Bit(info.dli_fname));
        } else if (command == QLatin1String("nomemexec")) {
            lg::image::setExecutableMemoryRefusedForTesting(true);
            print(QStringLiteral("nomemexec set"));
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
