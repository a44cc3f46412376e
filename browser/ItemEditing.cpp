#include "browser/ItemEditing.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ItemFileCommands.h"
#include "browser/ItemMenus.h"
#include "browser/ListTableView.h"
#include "browser/ShownItemsModel.h"
#include "model/ChosenFiles.h"
#include "model/CommandSettle.h"
#include "model/ThumbnailCache.h"
#include "controls/Cells.h"
#include "model/PhotoLibraryImport.h"
#include "model/ScreenHooks.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/FileOperations.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextStream>

#include <memory>
#include <optional>
#include <utility>

namespace {

const char *const pathProperty = "lgRenamePath";

std::function<Qt::DropAction(QDrag *)> &dragRunner()
{
    static std::function<Qt::DropAction(QDrag *)> runner;
    return runner;
}

void showRenameSheet(QWidget *window, const QString &title)
{
    showOverlay(Overlay::Sheet);
    lg::Alert::show(window, lg::AlertSpec{title, QString(), {QStringLiteral("OK")}, lg::AlertSpec::Style::Informational},
                    [](int) {
                        QTextStream(stdout) << "Success" << Qt::endl;
                        showOverlay(Overlay::Hidden);
                    });
}

QLineEdit *makeEditor(QWidget *parent, const QModelIndex &index)
{
    auto *model = qobject_cast<const ShownItemsModel *>(index.model());
    const InitialDirectory *item = model ? model->entry(index.row()) : nullptr;
    if (!item || !item->file || !item->file->url.isLocalFile() || isPhotoLibraryImportTarget(currentFolderURL))
        return nullptr;
    // A name that is not valid UTF-8 cannot be renamed here (the file layers
    // would act on its look-alike): said before anything is typed.
    if (const QString exact = lg::FileNames::pathOf(item->file->url); lg::FileNames::hasRawBytes(exact)) {
        showRenameSheet(parent->window(), lg::FileNames::notTextMessage(exact));
        return nullptr;
    }
    auto *editor = new Editing(parent);
    editor->setObjectName(QStringLiteral("renameEditor"));
    editor->setFrame(true);
    editor->setStyleSheet(withAccentColour(QStringLiteral("QLineEdit { background: #1e1e1e; color: #e6e6e6; border: 1px solid @accent;"
                                         " selection-background-color: @accent; }")));
    editor->setAlignment(Qt::AlignCenter);
    // Bound to the file now: whatever the row shows later, this file is renamed.
    editor->setProperty(pathProperty, lg::FileNames::pathOf(item->file->url));
    editor->setText(item->file->url.fileName());
    return editor;
}

// The new path of the current item after its rename, until a reload shows it.
QString &renamedCurrentPath()
{
    static QString path;
    return path;
}

bool isCurrentItem(const QString &path)
{
    const QVector<InitialDirectory> &shown = activeItemList();
    if (selectedItemIndex < 0 || selectedItemIndex >= shown.size())
        return false;
    const InitialDirectory &item = shown.at(selectedItemIndex);
    return item.url && item.url->isLocalFile() && QFileInfo(lg::FileNames::pathOf(*item.url)) == QFileInfo(path);
}

void commitEditor(QWidget *editor)
{
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line)
        return;
    const QString path = line->property(pathProperty).toString();
    if (path.isEmpty())
        return;
    const bool current = isCurrentItem(path);
    if (renameInPlace(path, line->text(), line->window()) && current)
        renamedCurrentPath() = QFileInfo(path).absolutePath() + QLatin1Char('/') + line->text();
}

// The name line of a grid item, as the item paints it.
QRect gridNameRect(const QRect &rect, const QFont &font)
{
    const int pad = std::max(3, int(rect.width() * 0.04));
    const QFontMetrics name(font);
    QFont infoFont = font;
    infoFont.setPointSizeF(std::max<qreal>(6, font.pointSizeF() * 0.85));
    const int height = name.height() + 6;
    const int bottom = rect.bottom() - pad - QFontMetrics(infoFont).height() - 1;
    return QRect(rect.left() + pad, bottom - height + 3, rect.width() - 2 * pad, height);
}

class RenamingGridDelegate : public GridItemDelegate
{
public:
    using GridItemDelegate::GridItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        return makeEditor(parent, index);
    }
    void setEditorData(QWidget *, const QModelIndex &) const override {}
    void setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &) const override { commitEditor(editor); }
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        editor->setGeometry(gridNameRect(option.rect, option.font));
    }
};

class RenamingListDelegate : public ListNameDelegate
{
public:
    using ListNameDelegate::ListNameDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        QLineEdit *editor = makeEditor(parent, index);
        if (editor)
            editor->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return editor;
    }
    void setEditorData(QWidget *, const QModelIndex &) const override {}
    void setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &) const override { commitEditor(editor); }
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        // Beside the small thumbnail.
        const int side = option.rect.height();
        editor->setGeometry(option.rect.adjusted(side + 4, 0, 0, 0));
    }
};

// Starts drags of the selection and takes drops from other programs.
class DragAndDrop : public QObject
{
public:
    DragAndDrop(QAbstractItemView *view, bool grid) : QObject(view), m_view(view), m_grid(grid) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_view) {
            if (event->type() == QEvent::FocusIn)
                m_focusedByClick = static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason;
            return false;
        }
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            const QModelIndex index = m_view->indexAt(mouse->position().toPoint());
            // A click renames only on the name of an item already selected in
            // a view that had the keyboard; the click that brings the keyboard
            // here, or one on the picture, just selects (Copy then copies).
            const bool onName = !m_grid
                || gridNameRect(m_view->visualRect(index), m_view->font()).contains(mouse->position().toPoint());
            const QAbstractItemView::EditTriggers triggers = QAbstractItemView::EditKeyPressed;
            m_view->setEditTriggers(onName && !m_focusedByClick ? triggers | QAbstractItemView::SelectedClicked
                                                                : triggers);
            m_focusedByClick = false;
            // A press on an item may drag it: the view selects it on this
            // press, so whether it is selected is asked when the drag starts.
            m_pressRow = mouse->button() == Qt::LeftButton && index.isValid() ? index.row() : -1;
            m_pressPoint = mouse->position().toPoint();
            return false;
        }
        case QEvent::MouseMove: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (m_pressRow < 0 || !(mouse->buttons() & Qt::LeftButton)
                || (mouse->position().toPoint() - m_pressPoint).manhattanLength() < QApplication::startDragDistance())
                return false;
            if (!m_view->selectionModel()->isSelected(m_view->model()->index(m_pressRow, 0, m_view->rootIndex()))) {
                m_pressRow = -1;   // a control-click took it out of the selection
                return false;
            }
            m_pressRow = -1;
            startDrag();
            return true;
        }
        case QEvent::MouseButtonRelease:
            m_pressRow = -1;
            return false;
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (!drag->mimeData()->hasUrls() || isBusy) {
                drag->ignore();
                return true;
            }
            // Drags that started here are never reordered.
            drag->setDropAction(draggingHere() ? Qt::MoveAction : Qt::CopyAction);
            drag->accept();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const lg::FileClip files = lg::Clipboard::readFiles(drop->mimeData());
            if (!draggingHere() && ItemFileCommands::instance()->acceptDrop(files.urls))
                drop->acceptProposedAction();
            else
                drop->ignore();
            return true;
        }
        default:
            return false;
        }
    }

private:
    bool draggingHere() const { return m_grid ? !draggedIndexPaths.isEmpty() : draggedRowIndexes.has_value(); }

    void startDrag()
    {
        const BrowseView view = m_grid ? gridBrowseView() : listBrowseView();
        const QList<int> rows = itemmenus::selectedRows(view);
        const QStringList paths = itemmenus::pathsOfRows(view, rows);
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(lg::FileNames::urlOf(path));
        if (urls.isEmpty())
            return;
        if (m_grid)
            draggedIndexPaths = QSet<int>(rows.begin(), rows.end());
        else
            draggedRowIndexes = rows;
        draggedItemURLs = urls;
        auto *drag = new QDrag(m_view);
        QMimeData *data = lg::Clipboard::mimeDataForFiles(urls);
        // The files as they are when the drag starts: a drop acts on these.
        markDraggedItems(data, chooseItems(paths, false));
        drag->setMimeData(data);
        if (dragRunner())
            dragRunner()(drag);
        else
            drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
        draggedIndexPaths.clear();
        draggedRowIndexes.reset();
        draggedItemURLs.clear();
    }

    QAbstractItemView *m_view;
    bool m_grid;
    bool m_focusedByClick = false;
    int m_pressRow = -1;
    QPoint m_pressPoint;
};

// The rename under way, by file, while the model is reset: a reload of the
// folder closes every editor, and the edit goes on where that file is now.
struct KeptEdit
{
    QString path;
    QString text;
    int cursor = 0;
    int selectionStart = -1;
    int selectionLength = 0;
    bool focused = false;
};

void keepEditingThroughResets(QAbstractItemView *view, ShownItemsModel *model, int column)
{
    auto kept = std::make_shared<std::optional<KeptEdit>>();
    QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, view, [view, model, kept, column] {
        kept->reset();
        for (QLineEdit *line : view->viewport()->findChildren<QLineEdit *>(QStringLiteral("renameEditor"))) {
            const QString path = line->property(pathProperty).toString();
            const int row = model->rowOfPath(path);
            // Only the editor the view has open now, not one on its way out.
            if (path.isEmpty() || row < 0 || view->indexWidget(model->index(row, column)) != line)
                continue;
            *kept = KeptEdit{path, line->text(), line->cursorPosition(), line->selectionStart(),
                             int(line->selectedText().size()), line->hasFocus()};
            return;
        }
    });
    // Connected after the view's own handling of the reset (which drops the
    // editor without committing it) and after the selection came back.
    QObject::connect(model, &QAbstractItemModel::modelReset, view, [view, model, kept, column] {
        const std::optional<KeptEdit> edit = std::exchange(*kept, std::nullopt);
        if (!edit)
            return;
        const int row = model->rowOfPath(edit->path);
        if (row < 0)
            return;   // the file is gone: there is nothing left to rename
        const QModelIndex index = model->index(row, column);
        view->edit(index);
        auto *line = qobject_cast<QLineEdit *>(view->indexWidget(index));
        if (!line || line->property(pathProperty).toString() != edit->path)
            return;
        line->setText(edit->text);
        if (edit->selectionStart >= 0 && edit->selectionLength > 0)
            line->setSelection(edit->selectionStart, edit->selectionLength);
        else
            line->setCursorPosition(edit->cursor);
        if (edit->focused)
            line->setFocus(Qt::OtherFocusReason);
    });
}

} // namespace

void installItemEditing(QAbstractItemView *view, bool grid)
{
    if (grid)
        view->setItemDelegate(new RenamingGridDelegate(view));
    else
        view->setItemDelegateForColumn(ShownItemsModel::NameColumn, new RenamingListDelegate(view));
    if (auto *model = qobject_cast<ShownItemsModel *>(view->model()))
        keepEditingThroughResets(view, model, grid ? 0 : int(ShownItemsModel::NameColumn));
    view->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    view->viewport()->setAcceptDrops(true);
    auto *filter = new DragAndDrop(view, grid);
    view->viewport()->installEventFilter(filter);
    view->installEventFilter(filter);
}

bool renameInPlace(const QString &path, const QString &typed, QWidget *window)
{
    const QFileInfo info(path);
    const QString current = info.fileName();
    // A change of letter case alone is not applied; an emptied field puts the name back.
    if (typed.toLower() == current.toLower() || typed.isEmpty())
        return false;
    if (!lg::isValidFileName(typed)) {
        showRenameSheet(window, QStringLiteral("An error occurred while renaming the file."));
        return false;
    }
    const QString target = info.absolutePath() + QLatin1Char('/') + typed;
    const auto taken = [&] {
        showRenameSheet(window, QStringLiteral("The name \u201C") + typed
                                    + QStringLiteral("\u201D is already taken. Please choose a different name."));
    };
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        taken();
        return false;
    }
    if (!info.exists() && !info.isSymLink()) {
        // A name that is not valid UTF-8, given as its look-alike's text.
        if (const QString unreadable = lg::unreadableNameMessage(path); !unreadable.isEmpty()) {
            showRenameSheet(window, unreadable);
            return false;
        }
        // Renamed, moved or deleted by another program since the listing.
        showRenameSheet(window, QStringLiteral("The item \u201C") + current
                                    + QStringLiteral("\u201D is no longer there. It may have been renamed, moved or "
                                                     "deleted by another program."));
        return false;
    }
    // Its thumbnails on disk follow it to the new name.
    const QList<lg::FileOpResult> told = settleCommand(lg::FileOpKind::Move, {lg::renameItem(path, typed)});
    if (told.isEmpty())
        return true;
    if (told.first().error == lg::FileOpError::TargetExists)
        taken();
    else
        showRenameSheet(window, QStringLiteral("An error occurred while renaming the file."));
    return false;
}

void setItemDragRunnerForTesting(std::function<Qt::DropAction(QDrag *)> runner)
{
    dragRunner() = std::move(runner);
}

void followRenamedItem()
{
    const QString path = std::exchange(renamedCurrentPath(), QString());
    if (path.isEmpty())
        return;
    const QVector<InitialDirectory> &shown = activeItemList();
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const InitialDirectory &item = shown.at(i);
        if (item.url && item.url->isLocalFile()
            && QDir::cleanPath(lg::FileNames::pathOf(*item.url)) == QDir::cleanPath(path)) {
            selectedItemIndex = int(i);
            return;
        }
    }
}
