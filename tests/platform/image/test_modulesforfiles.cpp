// The modules loaded ahead of need for a folder are those its pictures will be
// decoded with: for one file of every readable format, the module its
// extension names is the one the format probe sends the file to, so that no
// picture opened later waits for a module that was not loaded in time.
#include "platform/image/ByteSource.h"
#include "platform/image/FormatProbe.h"
#include "platform/image/ModulesForFiles.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>

using lg::image::Decoder;
using lg::image::Module;
namespace fx = lg::test::fixtures;

namespace {

// The module that decodes what the probe sends to decoder; none for Qt's readers.
std::optional<Module> moduleOf(Decoder decoder)
{
    switch (decoder) {
    case Decoder::Heif: return Module::Heif;
    case Decoder::Raw: return Module::Raw;
    case Decoder::Magick: return Module::Magick;
    case Decoder::Qt:
    case Decoder::None: break;
    }
    return std::nullopt;
}

} // namespace

class ModulesForFilesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theExtensionNamesTheModuleTheProbeChooses_data()
    {
        QTest::addColumn<QString>("path");
        const QString folder = lg::test::freshFolder(QStringLiteral("formats"));
        for (const fx::Fixture &fixture : fx::imageFormatSet(folder))
            QTest::newRow(qPrintable(fixture.name)) << fixture.path;
    }
    void theExtensionNamesTheModuleTheProbeChooses()
    {
        QFETCH(QString, path);
        const QString extension = QFileInfo(path).suffix().toLower();
        const lg::image::Probe probe = lg::image::probeFormat(lg::image::ByteSource::openFile(path), extension);
        QVERIFY(probe.decoder != Decoder::None);
        const QList<Module> named = lg::image::modulesForPictureExtension(extension);
        if (const std::optional<Module> needed = moduleOf(probe.decoder))
            QVERIFY2(named.contains(*needed), qPrintable(extension));
        else if (probe.magick.empty())
            QVERIFY2(named.isEmpty(), qPrintable(extension));   // Qt's alone: nothing to load
    }
};

LG_TEST(ModulesForFilesTest)
#include "test_modulesforfiles.moc"
