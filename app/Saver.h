#pragma once
// Saves a picture as an image file of a chosen format and output size: the save
// panel as a sheet on the main window with our format accessory (format, JPEG
// quality, TIFF compression) under the name field, the chosen format's extension
// applied to the name, and the write through lg::ImageWriter (temporary file and
// rename, off the main thread). While the panel is up and the file is written
// the hub's overlay dims the window. A failed write is reported in an alert,
// nothing is marked saved and a save asked for on leaving the collage leaves
// it open; a saved file that no application opens is reported too. Main thread.
#include "platform/image/ImageWriter.h"

#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QSlider;

// The pending output size of the current save (width, height in pixels).
extern std::optional<QSizeF> saverOutputSize;

// What the accessory offers: the formats the writer can write here.
struct SaveFormatChoice
{
    lg::ImageFileType type = lg::ImageFileType::JPEG;
    double quality = 0.9;               // 0..1, for JPEG (and HEIC)
    QString tiffCompression;            // "none", "lzw", "deflate", "packbits" (TIFF only)
};

// The panel's accessory: a format menu and the chosen format's options.
class SaveOptionsAccessory : public QWidget
{
    Q_OBJECT
public:
    explicit SaveOptionsAccessory(const QString &initialType = QString(), QWidget *parent = nullptr);
    SaveFormatChoice choice() const;
    void setChoice(const SaveFormatChoice &choice);
    // The writable formats in menu order.
    static QList<lg::ImageFileType> offeredTypes();
    static QString displayName(lg::ImageFileType type);
Q_SIGNALS:
    void choiceChanged();
private:
    void updateOptionRows();
    QComboBox *m_format = nullptr;
    QSlider *m_quality = nullptr;
    QComboBox *m_compression = nullptr;
    QWidget *m_qualityRow = nullptr;
    QWidget *m_compressionRow = nullptr;
};

class Saver : public QObject
{
    Q_OBJECT
public:
    // Makes the picture to save at the output size (e.g. the collage drawn
    // from its source files, the editor's adjusted full image).
    using Renderer = std::function<QImage(const QSize &outputSize)>;

    explicit Saver(QObject *parent = nullptr);
    // Waits for a write in progress and removes the overlay (no signals then).
    ~Saver() override;

    QString imageUTType;        // the format the accessory starts with ("public.jpeg", "jpg", ...)
    bool callFromExit = false;  // leave the collage after the panel (saved or cancelled, not failed)
    bool openAfterSave = true;  // open the written file with its default application
    // Where the panel opens; Pictures (else home) when empty, gone or not writable.
    QString startFolder;
    // The file whose metadata (Exif, GPS, IPTC, XMP, colour profile) the saved
    // picture carries, read just before the write (so a copy saved over that
    // very file keeps it); none when empty. When it is a JPEG, the panel's
    // JPEG quality starts at the quality it was written at.
    QString metadataSource;
    // The metadata itself, written instead of metadataSource's when set (the
    // file it came from may have gone since it was read).
    std::optional<lg::PictureMetadata> metadata;
    // Content ready for a JPEG of the render's own output size (a turned JPEG,
    // made without loss as in place): written as it is when the panel's choice
    // is JPEG and the size is left as it was.
    QByteArray preparedJpeg;
    // Asked on the writing thread just before a picture is written to path: a
    // reason refuses the write (the failure alert says it, nothing is
    // written); empty lets it go on. None: every write goes on.
    std::function<QString(const QString &path)> writeGuard;
    // A line the panel shows with its fields (why a new file is asked for); none when empty.
    QString panelMessage;

    // Renders view scaled into an image of width x height pixels and saves it.
    void showSavePanel(QWidget *view, double width, double height);
    // Saves what render makes at outputSize; proposedName starts the name field
    // ("Untitled" when empty).
    void showSavePanel(Renderer render, const QSize &outputSize, const QString &proposedName = QString());

    // The file name with the type's extension (an existing other image extension replaced).
    static QString applyExtension(const QString &fileName, lg::ImageFileType type);
    // Writes image to path as choice says, with the metadata where the format
    // holds it; false with the reason when nothing was written.
    static bool writeImage(const QImage &image, const QString &path, const SaveFormatChoice &choice,
                           QString *error = nullptr, const lg::PictureMetadata &metadata = {});

    // Tests: replaces the panel and its accessory (answer: path, or empty for Cancel).
    using PanelResponder = std::function<std::optional<std::pair<QString, SaveFormatChoice>>(const QString &proposedName)>;
    static void setPanelResponderForTesting(PanelResponder responder);

Q_SIGNALS:
    void saved(const QString &path);
    void saveFailed(const QString &message);
    // After every panel, saved or not.
    void finished(bool saved);

private:
    void finishSave(const Renderer &render, const QSize &outputSize, const QString &chosenPath,
                    const SaveFormatChoice &choice);
    void writeAndEnd(const Renderer &render, const QSize &outputSize, const QString &path,
                     const SaveFormatChoice &choice);
    // Removes the overlay; after a save from the exit question, leaves the
    // collage unless mayLeave is false (a write that failed keeps it open).
    void endPanel(bool wasSaved, bool mayLeave = true);
    // The encoding and writing of the last save, run off the main thread.
    QFutureWatcher<std::pair<bool, QString>> *m_write = nullptr;
};
