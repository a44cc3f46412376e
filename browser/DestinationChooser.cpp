// The folder chooser of Move To and Copy To, by the bytes of the names.
#include "browser/DestinationChooser.h"

#include "app/Essentials.h"
#include "model/NameOrder.h"
#include "model/ScreenHooks.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/names/FolderEntries.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTextStream>
#include <QToolButton>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr int pathRole = Qt::UserRole;

QString parentOf(const QString &folder)
{
    const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? folder.left(slash) : QStringLiteral("/");
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// One folder at a time: its path above, its folders below; a double click
// goes in, Up goes out. The confirming button chooses the selected folder, or
// the one shown when none is selected.
class DestinationChooserDialog : public QDialog
{
public:
    DestinationChooserDialog(QWidget *parent, const QString &prompt, const QString &start) : QDialog(parent)
    {
        setObjectName(QStringLiteral("lgDestinationChooser"));
        setWindowTitle(prompt);
        auto *layout = new QVBoxLayout(this);
        auto *bar = new QHBoxLayout;
        m_up = new QToolButton(this);
        m_up->setObjectName(QStringLiteral("chooserUp"));
        m_up->setText(QStringLiteral("Up"));
        m_place = new QLabel(this);
        m_place->setObjectName(QStringLiteral("chooserPlace"));
        bar->addWidget(m_up);
        bar->addWidget(m_place, 1);
        layout->addLayout(bar);
        m_list = new QListWidget(this);
        m_list->setObjectName(QStringLiteral("chooserFolders"));
        layout->addWidget(m_list, 1);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
        QPushButton *choose = buttons->addButton(prompt, QDialogButtonBox::AcceptRole);
        choose->setObjectName(QStringLiteral("chooserChoose"));
        choose->setDefault(true);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(m_up, &QToolButton::clicked, this, [this] { show(parentOf(m_folder)); });
        // A double click or Return goes in; later, the list being emptied then.
        const auto enter = [this](QListWidgetItem *item) {
            const QString folder = item->data(pathRole).toString();
            QMetaObject::invokeMethod(this, [this, folder] {
                if (folder != m_folder)
                    show(folder);
            }, Qt::QueuedConnection);
        };
        connect(m_list, &QListWidget::itemActivated, this, enter);
        connect(m_list, &QListWidget::itemDoubleClicked, this, enter);
        resize(480, 420);
        show(start);
    }

    // The folder chosen: the selected row's, else the one shown.
    QString chosen() const
    {
        const QListWidgetItem *item = m_list->currentItem();
        return item && item->isSelected() ? item->data(pathRole).toString() : m_folder;
    }

    void show(const QString &folder)
    {
        const std::optional<QList<FolderChoice>> folders = foldersIn(folder);
        if (!folders)
            return;   // unreadable: the chooser stays where it was
        m_folder = folder;
        m_place->setText(lg::FileNames::shown(folder));
        m_up->setEnabled(folder != QLatin1String("/"));
        m_list->clear();
        for (const FolderChoice &choice : *folders) {
            auto *item = new QListWidgetItem(choice.label, m_list);
            item->setData(pathRole, choice.path);
        }
    }
    using QDialog::show;

private:
    QString m_folder;
    QToolButton *m_up = nullptr;
    QLabel *m_place = nullptr;
    QListWidget *m_list = nullptr;
};

} // namespace

QString folderChoiceLabel(const QString &name)
{
    if (!lg::FileNames::hasRawBytes(name))
        return name;
    // The name written out, each stray byte (carried as U+DC80 + byte - 0x80) as \xNN.
    QString written;
    for (const QChar c : name) {
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            written += QStringLiteral("\\x") + QString::number(c.unicode() - 0xDC00, 16).toUpper();
        else
            written += c;
    }
    return lg::FileNames::shown(name) + QStringLiteral(" (") + written + QLatin1Char(')');
}

std::optional<QList<FolderChoice>> foldersIn(const QString &folder)
{
    QList<FolderChoice> folders;
    const bool read = lg::forEachFolderEntry(folder, [&](const lg::FolderEntry &entry) {
        if (entry.name[0] == '.')
            return;   // hidden folders
        struct stat st {};
        if (::fstatat(entry.folderFd, entry.name, &st, 0) != 0 || !S_ISDIR(st.st_mode))
            return;
        const QString name = lg::FileNames::fromNative(QByteArray(entry.name));
        folders.append({joined(folder, name), folderChoiceLabel(name)});
    });
    if (!read)
        return std::nullopt;
    std::sort(folders.begin(), folders.end(), [](const FolderChoice &a, const FolderChoice &b) {
        return compareNames(a.label, b.label) < 0;
    });
    return folders;
}

void chooseDestinationFolder(QWidget *parent, const QString &prompt, const QString &startFolder,
                             std::function<void(std::optional<QString> folder)> done)
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = false;
    spec.chooseDirectories = true;
    spec.allowsMultipleSelection = false;
    spec.showsHiddenFiles = false;
    spec.prompt = prompt;
    spec.title = prompt;
    spec.directory = startFolder;
    const QString start = startFolder.isEmpty() ? lg::Paths::home() : startFolder;
    lg::Panels::openOwn(
        parent, spec,
        [prompt, start](QWidget *over) -> QDialog * { return new DestinationChooserDialog(over, prompt, start); },
        [](QDialog *dialog) {
            return QList<QUrl>{lg::FileNames::urlOf(static_cast<DestinationChooserDialog *>(dialog)->chosen())};
        },
        [done = std::move(done)](const QList<QUrl> &urls) {
            if (urls.isEmpty() || !urls.first().isLocalFile()) {
                // The overlay goes back to its working form for what comes next.
                showOverlay(Overlay::Hidden);
                done(std::nullopt);
                return;
            }
            done(lg::FileNames::pathOf(urls.first()));
        });
}

std::optional<QIcon> effectiveIconOfURL(const QUrl &url)
{
    const QFileInfo info(lg::FileNames::pathOf(url));
    if (!url.isLocalFile() || !info.exists()) {
        QTextStream(stdout) << "Error reading file attributes" << Qt::endl;
        return std::nullopt;
    }
    static QFileIconProvider provider;
    return provider.icon(info);
}
