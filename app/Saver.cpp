#include "app/Saver.h"

#include "model/ScreenHooks.h"
#include "model/SharedState.h"
#include "platform/desktop/Alert.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Workspace.h"
#include "platform/image/ImageSource.h"
#include "platform/jpeg/JpegTurn.h"
#include "platform/image/Decoders.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>


#include <algorithm>
#include <atomic>
#include <memory>
#include <cmath>
#include <cstdio>

std::optional<QSizeF> saverOutputSize;

namespace {

Saver::PanelResponder &panelResponder()
{
    static Saver::PanelResponder responder;
    return responder;
}

struct TypeNames
{
    lg::ImageFileType type;
    const char *display;
    QStringList extensions;   // lower-case; the first is not always the preferred one
    QStringList identifiers;  // uniform type identifiers and short names
};

const QList<TypeNames> &typeNames()
{
    using T = lg::ImageFileType;
    static const QList<TypeNames> names = {
        {T::JPEG, "JPEG", {"jpg", "jpeg", "jpe"}, {"public.jpeg", "jpeg", "jpg"}},
        {T::PNG, "PNG", {"png"}, {"public.png", "png"}},
        {T::TIFF, "TIFF", {"tiff", "tif"}, {"public.tiff", "tiff", "tif"}},
        {T::HEIC, "HEIC", {"heic", "heif"}, {"public.heic", "heic", "heif"}},
        {T::JPEG2000, "JPEG 2000", {"jp2", "j2k", "jpf"}, {"public.jpeg-2000", "jp2", "jpeg2000"}},
        {T::GIF, "GIF", {"gif"}, {"com.compuserve.gif", "gif"}},
        {T::BMP, "BMP", {"bmp"}, {"com.microsoft.bmp", "bmp"}},
        {T::TGA, "TGA", {"tga"}, {"com.truevision.tga-image", "tga"}},
        {T::PICT, "PICT", {"pict", "pct", "pic"}, {"com.apple.pict", "pict"}},
        {T::AppleIcon, "ICNS", {"icns"}, {"com.apple.icns", "icns"}},
        {T::WindowsIcon, "Windows Icon", {"ico"}, {"com.microsoft.ico", "ico"}},
        {T::QuickTimeImage, "QuickTime Image", {"qtif", "qti"}, {"com.apple.quicktime-image", "qtif"}},
    };
    return names;
}

const TypeNames *namesOf(lg::ImageFileType type)
{
    for (const TypeNames &names : typeNames())
        if (names.type == type)
            return &names;
    return nullptr;
}

std::optional<lg::ImageFileType> typeForIdentifier(const QString &identifier)
{
    const QString key = identifier.trimmed().toLower();
    for (const TypeNames &names : typeNames())
        if (names.identifiers.contains(key) || names.extensions.contains(key))
            return names.type;
    return std::nullopt;
}

bool usesQuality(lg::ImageFileType type)
{
    return type == lg::ImageFileType::JPEG || type == lg::ImageFileType::HEIC || type == lg::ImageFileType::JPEG2000;
}

const QStringList &tiffCompressions()
{
    static const QStringList list = {QStringLiteral("none"), QStringLiteral("lzw"), QStringLiteral("deflate"),
                                     QStringLiteral("packbits")};
    return list;
}

std::optional<QByteArray> encodeTiff(const QImage &source, const QString &compression, QString *error)
{
    const QString c = compression.toLower();
    using lg::image::TiffCompression;
    const TiffCompression method = c == QLatin1String("lzw")        ? TiffCompression::Lzw
                                 : c == QLatin1String("deflate")  ? TiffCompression::Deflate
                                 : c == QLatin1String("packbits") ? TiffCompression::PackBits
                                                                  : TiffCompression::None;
    // Eight bits a sample, as the save panel offers it.
    const QImage pixels = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_RGBA8888
                                                                          : QImage::Format_RGBX8888);
    return lg::image::encodeTiffWithMagick(pixels, method, 1, error);
}

// The view drawn whole into an image of the output size.
QImage renderView(QWidget *view, const QSize &outputSize)
{
    if (!view || outputSize.isEmpty() || view->width() <= 0 || view->height() <= 0)
        return {};
    QImage image(outputSize, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.scale(double(outputSize.width()) / view->width(), double(outputSize.height()) / view->height());
    view->render(&painter, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    painter.end();
    return image;
}

// The quality the JPEG at path was written at; none for other files.
std::optional<int> sourceJpegQuality(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The tables come before the picture data, mostly in the first few kilobytes.
    const QByteArray head = file.read(qint64(1) << 20);
    return head.startsWith("\xff\xd8") ? lg::estimatedJpegQuality(head) : std::nullopt;
}

QWidget *sheetParent()
{
    return screenHooks().sheetParent ? screenHooks().sheetParent() : nullptr;
}

} // namespace

// ---- SaveOptionsAccessory ----

SaveOptionsAccessory::SaveOptionsAccessory(const QString &initialType, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("saveOptionsAccessory"));
    auto *form = new QFormLayout(this);
    form->setContentsMargins(12, 6, 12, 6);
    form->setLabelAlignment(Qt::AlignRight);

    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("saveFormat"));
    for (lg::ImageFileType type : offeredTypes())
        m_format->addItem(displayName(type), int(type));
    form->addRow(QStringLiteral("Format:"), m_format);

    m_qualityRow = new QWidget(this);
    auto *qualityLayout = new QHBoxLayout(m_qualityRow);
    qualityLayout->setContentsMargins(0, 0, 0, 0);
    qualityLayout->addWidget(new QLabel(QStringLiteral("Least"), m_qualityRow));
    m_quality = new QSlider(Qt::Horizontal, m_qualityRow);
    m_quality->setObjectName(QStringLiteral("saveQuality"));
    m_quality->setRange(0, 100);
    m_quality->setValue(90);
    qualityLayout->addWidget(m_quality, 1);
    qualityLayout->addWidget(new QLabel(QStringLiteral("Best"), m_qualityRow));
    form->addRow(QStringLiteral("Quality:"), m_qualityRow);

    m_compressionRow = new QWidget(this);
    auto *compressionLayout = new QHBoxLayout(m_compressionRow);
    compressionLayout->setContentsMargins(0, 0, 0, 0);
    m_compression = new QComboBox(m_compressionRow);
    m_compression->setObjectName(QStringLiteral("saveCompression"));
    m_compression->addItem(QStringLiteral("None"), QStringLiteral("none"));
    m_compression->addItem(QStringLiteral("LZW"), QStringLiteral("lzw"));
    m_compression->addItem(QStringLiteral("Deflate"), QStringLiteral("deflate"));
    m_compression->addItem(QStringLiteral("PackBits"), QStringLiteral("packbits"));
    m_compression->setCurrentIndex(1);
    compressionLayout->addWidget(m_compression);
    compressionLayout->addStretch(1);
    form->addRow(QStringLiteral("Compression:"), m_compressionRow);

    if (const std::optional<lg::ImageFileType> type = typeForIdentifier(initialType)) {
        const int index = m_format->findData(int(*type));
        if (index >= 0)
            m_format->setCurrentIndex(index);
    }
    connect(m_format, &QComboBox::currentIndexChanged, this, [this] {
        updateOptionRows();
        Q_EMIT choiceChanged();
    });
    connect(m_quality, &QSlider::valueChanged, this, &SaveOptionsAccessory::choiceChanged);
    connect(m_compression, &QComboBox::currentIndexChanged, this, &SaveOptionsAccessory::choiceChanged);
    updateOptionRows();
}

QList<lg::ImageFileType> SaveOptionsAccessory::offeredTypes()
{
    QList<lg::ImageFileType> types;
    for (const TypeNames &names : typeNames())
        if (lg::ImageWriter::canWrite(names.type))
            types.append(names.type);
    return types;
}

QString SaveOptionsAccessory::displayName(lg::ImageFileType type)
{
    const TypeNames *names = namesOf(type);
    return names ? QString::fromLatin1(names->display) : QString();
}

SaveFormatChoice SaveOptionsAccessory::choice() const
{
    SaveFormatChoice choice;
    choice.type = lg::ImageFileType(m_format->currentData().toInt());
    choice.quality = m_quality->value() / 100.0;
    if (choice.type == lg::ImageFileType::TIFF)
        choice.tiffCompression = m_compression->currentData().toString();
    return choice;
}

void SaveOptionsAccessory::setChoice(const SaveFormatChoice &choice)
{
    const int index = m_format->findData(int(choice.type));
    if (index >= 0)
        m_format->setCurrentIndex(index);
    m_quality->setValue(int(std::lround(std::clamp(choice.quality, 0.0, 1.0) * 100)));
    const int compression = m_compression->findData(choice.tiffCompression.toLower());
    if (compression >= 0)
        m_compression->setCurrentIndex(compression);
    updateOptionRows();
}

void SaveOptionsAccessory::updateOptionRows()
{
    const auto type = lg::ImageFileType(m_format->currentData().toInt());
    auto *form = static_cast<QFormLayout *>(layout());
    form->setRowVisible(m_qualityRow, usesQuality(type));
    form->setRowVisible(m_compressionRow, type == lg::ImageFileType::TIFF);
}

// ---- Saver ----

Saver::Saver(QObject *parent) : QObject(parent) {}

Saver::~Saver()
{
    if (m_write && m_write->isRunning()) {
        m_write->disconnect(this);
        m_write->waitForFinished();
        showOverlay(Overlay::Hidden);
    }
}

void Saver::setPanelResponderForTesting(PanelResponder responder)
{
    panelResponder() = std::move(responder);
}

QString Saver::applyExtension(const QString &fileName, lg::ImageFileType type)
{
    const TypeNames *names = namesOf(type);
    const QString extension = lg::ImageWriter::preferredExtension(type);
    const int slash = fileName.lastIndexOf(QLatin1Char('/'));
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1) {
        const QString current = fileName.mid(dot + 1).toLower();
        if (names && names->extensions.contains(current))
            return fileName;
        for (const TypeNames &other : typeNames())
            if (other.extensions.contains(current))
                return fileName.left(dot + 1) + extension;
    }
    return fileName + QLatin1Char('.') + extension;
}

bool Saver::writeImage(const QImage &image, const QString &path, const SaveFormatChoice &choice, QString *error,
                       const lg::PictureMetadata &metadata)
{
    QString reason;
    bool ok = false;
    if (!lg::ImageWriter::canWrite(choice.type)) {
        reason = QStringLiteral("The %1 format cannot be written here.").arg(SaveOptionsAccessory::displayName(choice.type));
    } else if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        reason = QStringLiteral("There is no picture to save.");
    } else if (choice.type == lg::ImageFileType::TIFF) {
        const QString compression = choice.tiffCompression.isEmpty() ? QStringLiteral("lzw") : choice.tiffCompression;
        if (!tiffCompressions().contains(compression.toLower()))
            reason = QStringLiteral("The TIFF compression “%1” is not known.").arg(compression);
        else if (std::optional<QByteArray> bytes = encodeTiff(image, compression, &reason)) {
            if (!metadata.isEmpty()) {
                // Metadata that cannot be carried does not stop the picture from being saved.
                if (std::optional<QByteArray> tagged = lg::withPictureMetadata(*bytes, metadata, image.size(), image, nullptr))
                    bytes = std::move(tagged);
            }
            ok = lg::ImageWriter::replaceFileContents(path, *bytes, &reason);
        }
    } else {
        lg::ImageWriteOptions options;
        options.metadata = metadata;
        if (usesQuality(choice.type))
            options.quality = std::clamp(choice.quality, 0.0, 1.0);
        ok = lg::ImageWriter::write(image, path, choice.type, options, &reason);
    }
    if (!ok && error)
        *error = reason;
    return ok;
}

void Saver::showSavePanel(QWidget *view, double width, double height)
{
    QPointer<QWidget> target(view);
    const QSize size(int(std::lround(width)), int(std::lround(height)));
    showSavePanel([target](const QSize &outputSize) { return renderView(target.data(), outputSize); }, size);
    saverOutputSize = QSizeF(width, height);
}

void Saver::showSavePanel(Renderer render, const QSize &outputSize, const QString &proposedName)
{
    saverOutputSize = QSizeF(outputSize);
    const QString name = proposedName.isEmpty() ? QStringLiteral("Untitled") : proposedName;

    showOverlay(Overlay::Sheet);

    QPointer<Saver> self(this);
    const auto complete = [self, render, outputSize](const QString &path, const SaveFormatChoice &choice) {
        if (self)
            self->finishSave(render, outputSize, path, choice);
    };

    if (panelResponder()) {
        const auto answer = panelResponder()(name);
        QMetaObject::invokeMethod(this, [complete, answer] {
            if (answer)
                complete(answer->first, answer->second);
            else
                complete(QString(), SaveFormatChoice());
        }, Qt::QueuedConnection);
        return;
    }

    auto *accessory = new SaveOptionsAccessory(imageUTType);
    if (const std::optional<int> quality = sourceJpegQuality(metadataSource)) {
        SaveFormatChoice start = accessory->choice();
        start.quality = *quality / 100.0;
        accessory->setChoice(start);
    }
    lg::SavePanelSpec spec;
    spec.title = QStringLiteral("Save");
    const QFileInfo start(startFolder);
    spec.directory = !startFolder.isEmpty() && start.isDir() && start.isWritable() ? startFolder
                                                                                    : lg::Paths::picturesOrHome();
    spec.fileName = name;
    spec.message = panelMessage;
    spec.accessory = accessory;
    QPointer<SaveOptionsAccessory> options(accessory);
    lg::Panels::save(sheetParent(), spec, [complete, options](const QUrl &url) {
        const SaveFormatChoice choice = options ? options->choice() : SaveFormatChoice();
        complete(url.isEmpty() ? QString() : lg::FileNames::pathOf(url), choice);
    });
}

void Saver::finishSave(const Renderer &render, const QSize &outputSize, const QString &chosenPath,
                       const SaveFormatChoice &choice)
{
    if (chosenPath.isEmpty()) {
        endPanel(false);
        return;
    }
    const QString path = applyExtension(chosenPath, choice.type);
    if (path != chosenPath && QFileInfo::exists(path)) {
        // The panel asked about the typed name only; the name with its extension is asked about here.
        lg::AlertSpec spec;
        spec.title = QStringLiteral("“%1” already exists. Do you want to replace it?").arg(QFileInfo(path).fileName());
        spec.text = QStringLiteral("A file with the same name already exists. Replacing it will overwrite its contents.");
        spec.buttons = {QStringLiteral("Replace"), QStringLiteral("Cancel")};
        QPointer<Saver> self(this);
        lg::Alert::show(sheetParent(), spec, [self, render, outputSize, path, choice](int button) {
            if (!self)
                return;
            if (button == 0)
                self->writeAndEnd(render, outputSize, path, choice);
            else
                self->endPanel(false);
        });
        return;
    }
    writeAndEnd(render, outputSize, path, choice);
}

void Saver::writeAndEnd(const Renderer &render, const QSize &outputSize, const QString &path,
                        const SaveFormatChoice &choice)
{
    // Widgets are drawn here; the encoding and the write go to the pool.
    const QImage image = render ? render(outputSize) : QImage();
    m_write = new QFutureWatcher<std::pair<bool, QString>>(this);
    // Set when the write guard refused the write.
    auto refused = std::make_shared<std::atomic<bool>>(false);
    connect(m_write, &QFutureWatcherBase::finished, this, [this, watcher = m_write, path, refused] {
        watcher->deleteLater();
        if (m_write == watcher)
            m_write = nullptr;
        const auto [ok, error] = watcher->result();
        if (!ok) {
            // A refused file is said as every refused item is.
            lg::FileOpResult refusal;
            refusal.error = lg::FileOpError::Other;
            refusal.source = path;
            refusal.message = error;
            const std::optional<lg::FailureSummary> summary =
                refused->load() ? lg::failureSummary({refusal}) : std::nullopt;
            if (summary)
                lg::Alert::show(sheetParent(), {summary->title, summary->text, {QStringLiteral("OK")},
                                                lg::AlertSpec::Style::Warning});
            else
                lg::Alert::inform(sheetParent(), QStringLiteral("The picture could not be saved."), error);
            Q_EMIT saveFailed(error);
            // The user asked to keep the work: leaving stops here.
            endPanel(false, false);
            return;
        }
        isCollageSaved = true;
        Q_EMIT saved(path);
        QString openError;
        const bool opened = !openAfterSave || lg::Workspace::openWithDefault(path, &openError);
        endPanel(true);
        if (!opened) {
            std::printf("%s\n", qPrintable(openError));
            lg::Alert::inform(sheetParent(), QStringLiteral("The saved picture could not be opened."),
                              QStringLiteral("“%1” was saved, but no application could open it.")
                                  .arg(QFileInfo(path).fileName()));
        }
    });
    const QByteArray prepared = choice.type == lg::ImageFileType::JPEG && !preparedJpeg.isEmpty()
                                        && render && image.size() == outputSize
                                        && outputSize == lg::ImageSource::fromData(preparedJpeg, QStringLiteral("jpeg")).pixelSize()
                                    ? preparedJpeg : QByteArray();
    m_write->setFuture(lg::runOnPool([image, path, choice, source = metadataSource, held = metadata, prepared,
                                          guard = writeGuard, refused] {
        QString error;
        if (guard) {
            if (QString refusal = guard(path); !refusal.isEmpty()) {
                refused->store(true);
                return std::make_pair(false, refusal);
            }
        }
        if (!prepared.isEmpty()) {
            const bool ok = lg::ImageWriter::replaceFileContents(path, prepared, &error);
            return std::make_pair(ok, error);
        }
        const lg::PictureMetadata metadata = held ? *held
                                             : source.isEmpty() ? lg::PictureMetadata()
                                                                : lg::PictureMetadata::read(source);
        const bool ok = writeImage(image, path, choice, &error, metadata);
        return std::make_pair(ok, error);
    }));
}

void Saver::endPanel(bool wasSaved, bool mayLeave)
{
    showOverlay(Overlay::Hidden);
    if (callFromExit && mayLeave && screenHooks().closeCollage)
        screenHooks().closeCollage();
    Q_EMIT finished(wasSaved);
}
