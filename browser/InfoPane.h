#pragma once
// The item-information pane: the current item's properties (platform/
// PropertyTree.h) as a two-column outline of label and value, groups
// collapsed. Each fill takes the item's path on the main thread and reads the
// file on a background thread; the result carries the fill's generation and
// is dropped when a newer fill has been asked for meanwhile, so the pane never
// shows an item that is no longer current. A video shows what the file
// holds (size, duration, codec, date); an unreadable file empties the pane; a name that is not valid UTF-8 shows one row across
// the pane, wrapped whole, that says why nothing else is shown; with no
// current item it keeps its rows. Main thread.
#include "platform/image/PropertyTree.h"

#include <QObject>
#include <functional>
#include <optional>

class QStandardItemModel;
class QTreeView;

class InfoPane : public QObject
{
    Q_OBJECT
public:
    using Reader = std::function<std::optional<QList<lg::PropertyNode>>(const QString &path)>;

    // The pane of the content controller (made on first use).
    static InfoPane *instance();
    explicit InfoPane(QTreeView *outline, QObject *parent = nullptr);

    // Starts a fill for the current item of the shown list.
    void fill();
    // Starts a fill for one file (empty path: empty the pane).
    void fillForPath(const QString &path);
    QStandardItemModel *model() const { return m_model; }
    int generation() const { return m_generation; }

    // Replaces the file reader (tests); empty restores readPropertyTree.
    static void setReaderForTesting(Reader reader);

Q_SIGNALS:
    // A fill's result was shown (shown) or dropped as stale (!shown).
    void fillFinished(int generation, bool shown);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The label column fits the shown keys up to the longest of the
    // vocabulary; the values give way.
    void fitLabelColumn();
    // The width the longest key of the vocabulary needs, indented to its level.
    int longestKeyWidth() const;
    void show(int generation, const std::optional<QList<lg::PropertyNode>> &tree);
    // In place of the properties: one row of text, across both columns,
    // wrapped over as many lines as it needs.
    void showNotice(const QString &text);
    // The notice's row height for the pane's width now.
    void fitNoticeHeight();

    QTreeView *m_outline = nullptr;
    QObject *m_viewport = nullptr;   // compared only, never called: it may be going away
    QStandardItemModel *m_model = nullptr;
    int m_generation = 0;
    bool m_noticeShown = false;
};
