#pragma once
// The image editor. It takes the split view's place (mainvc.showEditImagevc)
// and edits the file named by viewerItemURL: the picture shows in our own
// canvas, and the "Image Edit" window adjusts it (exposure, brightness,
// contrast, saturation, sharpness, sepia, monochrome). The original file is
// never written: Save writes a new file in the format chosen in the save panel.
// The file's bytes are held while it is edited (up to a limit), so a copy can
// still be saved after another program has moved or deleted the file, and the
// saved picture is always the one edited: a larger file is read again for the
// save only while it is still the file opened. A save over the opened file
// that another program has replaced or changed since is refused.
//
// Previews are computed off the main thread on a screen-size copy of the
// picture, with at most one preview waiting behind the one being computed
// (the newest slider position wins). The save decodes the full picture and
// applies the same adjustments off the main thread too. Main thread.
#include "platform/files/names/FileIdentity.h"
#include "viewer/Adjustments.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class ElidedLabel;
class ImageCanvas;
class ImageEditWindow;
class QLabel;
class QPushButton;
class Saver;

class editImagevc : public QWidget
{
    Q_OBJECT
public:
    explicit editImagevc(QWidget *parent = nullptr);
    ~editImagevc() override;

    // ---- Outlets ----
    ImageCanvas *imageview = nullptr;     // the picture being edited
    ImageEditWindow *editor = nullptr;    // the "Image Edit" window
    ElidedLabel *lblfilename = nullptr;   // the file's name, cut in the middle when long
    QPushButton *btnExitButton = nullptr;
    QPushButton *btnrefreshButton = nullptr;
    QPushButton *btnopenpanelButton = nullptr;
    QPushButton *btnsaveButton = nullptr;

    // ---- Fields ----
    QImage firstimage;                    // the preview as loaded, before any edit
    Saver *saver = nullptr;
    bool savepanel_CallFromexit = false;  // the save began at "Save changes?": close afterwards
    bool selfViewVisible = false;

    // Loads the file at viewerItemURL (in the background) and opens the edit window.
    void loadImage();
    // ---- Actions ----
    void btnsave();
    void btnExit();
    void btnrefresh();
    void btnopenpanelclicked();
    void alertforSaveImage();
    void btnYES_savealert();
    void btnNO_savealert();
    void alertImagenotsupported();
    void showSaveSheet();
    void saveSheetEnded(bool saved);
    void discardAndClose();
    void closeEditor();
    // Asks "Save changes?" as Exit does. done(true) once the changes are saved
    // (the editor then closes) or the user chose "No" (they are dropped);
    // done(false) when the save failed or was cancelled: the editor stays
    // open with its changes. Where "Save changes?" is open already, or a save
    // is under way (its panel or its write), nothing more is asked: that
    // answer, or that save's end, settles done.
    void askToSaveChanges(std::function<void(bool mayGoOn)> done);

    // ---- State ----
    Adjustments adjustments() const { return m_adjustments; }
    void setAdjustments(const Adjustments &adjustments);
    // The adjustments of the preview on the canvas now.
    Adjustments shownAdjustments() const { return m_shownAdjustments; }
    // Adjusted, and not saved with these adjustments.
    bool hasUnsavedChanges() const { return !m_adjustments.isIdentity() && m_adjustments != m_savedAdjustments; }
    bool isLoaded() const { return !m_previewSource.isNull(); }
    // The longest side of the preview copy, in pixels.
    static constexpr int previewSide = 1600;
    // The largest file held while it is edited (tests); negative restores the default.
    static void setHeldFileLimitForTesting(qint64 bytes);

Q_SIGNALS:
    // A preview (or the loaded picture) was put on the canvas.
    void previewShown();
    // The picture of a load is on the canvas (or the load failed).
    void loadFinished(bool ok);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    // The floating "Image Edit" window shows only while the editor is the
    // screen shown: it goes while the editor is hidden or another screen
    // (the "More Apps" panel) covers it, and comes back after.
    void watchCoveringScreens();
    void updateEditWindowShown();
    bool m_editWindowWanted = false;   // open, as the user left it
    bool m_watchingCovers = false;
    QList<QPointer<QWidget>> m_covers;   // screens shown over the editor
    void openEditWindow();
    void schedulePreview();
    void startPreview();

    QString m_path;
    QSize m_pixelSize;
    QImage m_previewSource;
    QByteArray m_heldFile;   // the file as it was loaded (see loadPreview)
    std::optional<lg::FileIdentity> m_openedIdentity;   // of the file the picture was read from
    Adjustments m_adjustments;
    Adjustments m_shownAdjustments;
    Adjustments m_savedAdjustments;      // of the last saved copy
    Adjustments m_renderedAdjustments;   // of the copy in the save panel
    quint64 m_loadGeneration = 0;
    quint64 m_previewTicket = 0;
    bool m_previewRunning = false;
    bool m_previewWaiting = false;
    bool m_rendering = false;
    bool m_saveFailed = false;   // the save that ends now failed (its message is shown)
    bool m_saveQuestionOpen = false;   // "Save changes?" waits for its answer
    bool m_saving = false;   // from the Save (or "Yes") until the panel and its write end
    std::function<void(bool)> m_afterSaveQuestion;   // of askToSaveChanges, until it is settled
};
