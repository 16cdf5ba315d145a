#include "manage/ListViewController.h"

#include "manage/AlertTexts.h"
#include "manage/GroupHeader.h"
#include "manage/ListCell.h"
#include "manage/ListTransfer.h"
#include "platform/base/Log.h"
#include "platform/net/ImageLoader.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Announce.h"
#include "platform/ui/PreviewView.h"
#include "platform/ui/ShortcutRegistry.h"
#include "session/PlayProgram.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "store/ProgramGroups.h"
#include "store/ProgramIndex.h"
#include "store/ProgramStore.h"
#include "ui_ListView.h"

#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QToolButton>
#include <QUrl>

namespace {

// Folded groups, for as long as the application runs: the list opens as the
// listener left it.
QSet<QString> &foldedGroups()
{
    static QSet<QString> folded;
    return folded;
}

QString nameOrProgram(const QVariant &item)
{
    const QString name = program::name(item);
    return name.isEmpty() ? QStringLiteral("Program") : name;
}

} // namespace

ListViewController::ListViewController(QObject *parent) : ViewController(parent) {}

ListViewController::~ListViewController()
{
    // A presented window belongs to the window it was shown over; it goes
    // with this controller so each opening starts afresh and nothing is left
    // behind that could still call into it.
    if (isViewLoaded()) {
        listTableView()->setDataSource(nullptr);
        listTableView()->setDelegate(nullptr);
        delete view();
    }
}

TableView *ListViewController::listTableView() const
{
    return m_ui ? m_ui->listTableView : nullptr;
}

QWidget *ListViewController::loadView()
{
    auto *root = new QWidget;
    m_ui = std::make_unique<Ui::ListView>();
    m_ui->setupUi(root);
    root->setWindowTitle(QStringLiteral("Programs"));
    m_ui->listTableView->registerViewFactory(kCellIdentifier, [] { return new ListCell; });
    m_ui->listTableView->registerViewFactory(kHeaderIdentifier, [] { return new GroupHeader; });
    connect(m_ui->newGroupBtn, &QPushButton::clicked, this,
            [this] { newGroupClick(m_ui->newGroupBtn); });
    connect(m_ui->closeBtn, &QPushButton::clicked, this, [this] { closeClick(m_ui->closeBtn); });
    connect(m_ui->redoBtn, &QPushButton::clicked, this, [this] { redoClick(m_ui->redoBtn); });
    connect(m_ui->findButton, &QPushButton::clicked, this, &ListViewController::findRequested);
    auto *importFrom = new QMenu(m_ui->importFromBtn);
    importFrom->setObjectName(QStringLiteral("importFromMenu"));
    m_ui->importFromBtn->setMenu(importFrom);
    // Import and export: the buttons ask for a file, the menu offers the
    // other players' lists found here.
    auto *transfer = new ListTransfer(root, this);
    connect(transfer, &ListTransfer::imported, this, &ListViewController::loadData);
    connect(m_ui->importBtn, &QPushButton::clicked, transfer, &ListTransfer::chooseImport);
    connect(m_ui->exportBtn, &QPushButton::clicked, transfer, &ListTransfer::chooseExport);
    connect(importFrom, &QMenu::aboutToShow, transfer,
            [transfer, importFrom] { transfer->fillImportFrom(importFrom); });
    ShortcutRegistry::add(root, QKeySequence(Qt::CTRL | Qt::Key_F), QStringLiteral("findShortcut"),
                          this, [this] { Q_EMIT findRequested(); });
    return root;
}

void ListViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    QWidget *root = view();
    setBackgroundColor(root, Qt::white);
    listTableView()->setDelegate(this);
    listTableView()->setDataSource(this);
    listTableView()->setSelectionHighlightStyle(TableView::SelectionHighlightStyleNone);
    listTableView()->setRowsMovable(true);
    loadData();
}

void ListViewController::loadData()
{
    dataArr = CacheManager::shareIntance()->getData(&m_groups);
    m_rows.clear();
    m_rows.reserve(dataArr.size() + m_groups.size());
    m_groupSizes.clear();
    for (const programgroups::Section &section : programgroups::sections(dataArr, m_groups)) {
        m_groupSizes.insert(section.group, section.items.size());
        const bool folded = !section.group.isEmpty() && foldedGroups().contains(section.group);
        if (!section.group.isEmpty())
            m_rows.append({section.group, -1});
        if (folded)
            continue;
        for (qsizetype item : section.items)
            m_rows.append({section.group, item});
    }
    listTableView()->reloadData();
}

void ListViewController::followStore(ProgramStore *store)
{
    // Queued: a change this window made itself is shown by the code that
    // made it, which may still be using the rows as they were.
    connect(
        store, &ProgramStore::listChanged, this,
        [this] {
            if (isViewLoaded())
                loadData();
        },
        Qt::QueuedConnection);
}

long ListViewController::numberOfRowsInTableView(TableView *)
{
    return long(m_rows.size());
}

int ListViewController::heightOfRow(TableView *, long)
{
    return kRowHeight;
}

QWidget *ListViewController::viewForRow(TableView *tableView, long row)
{
    if (row >= 0 && row < m_rows.size() && m_rows.at(row).item < 0)
        return headerView(tableView, row);
    auto *cell = qobject_cast<ListCell *>(tableView->makeViewWithIdentifier(kCellIdentifier, this));
    if (!cell || row < 0 || row >= m_rows.size())
        return cell;
    const qsizetype at = m_rows.at(row).item;
    const QVariant item = dataArr.at(at);

    // The image arrives later. The row forgets the picture of whatever it
    // showed before, and a reply for an earlier request is never delivered.
    QObject *request = cell->beginImageRequest();
    const QString image = program::image(item);
    if (!image.isEmpty()) {
        QPointer<ListCell> target(cell);
        ImageLoader::shared()->load(QUrl(image), request, [target, request](const QImage &img) {
            if (target && target->currentImageRequest() == request)
                target->previewImageView()->setImage(img);
        });
    }

    const QString name = program::name(item);
    const QString url = program::url(item);
    cell->nameTF()->setText(name);
    cell->urlTF()->setText(url);
    // A screen reader names the row, its picture and its buttons after the
    // program, so one row is told from another.
    announce::setName(cell, name.isEmpty() ? QStringLiteral("Program") : name);
    const QString group = program::group(item);
    announce::setDescription(cell, group.isEmpty() ? url : url + QStringLiteral(", in ") + group);
    announce::setName(cell->previewImageView(),
                      announce::pictureName(name, QStringLiteral("Program picture")));
    announce::setName(cell->listPlayBtn(), QStringLiteral("Play %1").arg(name).trimmed());
    announce::setName(cell->listDelBtn(), QStringLiteral("Delete %1").arg(name).trimmed());
    cell->setRow(row);

    QPointer<ListViewController> self(this);
    cell->setMouseBlock([row] { NSLog(lcManage(), QtDebugMsg, "鼠标正在：%ld", row); });
    cell->setPlayBlock([self, item, at] {
        if (self)
            self->playEntry(item, long(at));
    });
    cell->setDelBlock([self, item, at] {
        if (self)
            self->deleteEntry(item, long(at));
    });
    return cell;
}

QWidget *ListViewController::headerView(TableView *tableView, long row)
{
    auto *header =
        qobject_cast<GroupHeader *>(tableView->makeViewWithIdentifier(kHeaderIdentifier, this));
    if (!header)
        return header;
    const QString group = m_rows.at(row).group;
    header->fill(group, m_groupSizes.value(group), !foldedGroups().contains(group));
    QPointer<ListViewController> self(this);
    header->setFoldBlock([self, group] {
        if (self)
            self->toggleGroup(group);
    });
    return header;
}

void ListViewController::tableViewSelectionDidChange(TableView *)
{
    NSLog(lcManage(), QtDebugMsg, "tableColumn：%ld", listTableView()->selectedRow());
}

void ListViewController::tableViewDeleteRow(TableView *, long row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    const ShownRow shown = m_rows.at(row);
    if (shown.item < 0)
        showRemoveGroupAlert(shown.group);
    else
        deleteEntry(dataArr.at(shown.item), long(shown.item));
}

void ListViewController::tableViewActivateRow(TableView *, long row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    const ShownRow shown = m_rows.at(row);
    if (shown.item < 0)
        toggleGroup(shown.group);
    else
        playEntry(dataArr.at(shown.item), long(shown.item));
}

bool ListViewController::tableViewMoveRow(TableView *, long fromRow, long toRow)
{
    if (fromRow < 0 || fromRow >= m_rows.size() || toRow < 0 || toRow >= m_rows.size() ||
        m_rows.at(fromRow).item < 0)
        return false;
    // The rows as they would stand after the move: the program joins the
    // group of the row above it (none at the top), and takes its place in
    // the list next to the program above it, or else before the one below.
    QList<ShownRow> after = m_rows;
    after.move(fromRow, toRow);
    const qsizetype from = m_rows.at(fromRow).item;
    const ShownRow above = toRow > 0 ? after.at(toRow - 1) : ShownRow{};
    const ShownRow below = toRow + 1 < after.size() ? after.at(toRow + 1) : ShownRow{};
    qsizetype to = from;
    if (above.item >= 0)
        to = above.item < from ? above.item + 1 : above.item;
    else if (below.item >= 0 && below.group == above.group)
        to = below.item > from ? below.item - 1 : below.item;
    const QVariant item = dataArr.at(from);
    const QString group = above.group;
    const bool regroup = group != program::group(item);
    CacheManager *cache = CacheManager::shareIntance();
    const bool saved =
        regroup ? cache->moveData(from, to, item, group) : cache->moveData(from, to, item);
    loadData();
    if (saved && regroup) {
        announceGroup(item, group);
        return true;
    }
    if (!saved) {
        showSaveFailure(QStringLiteral("The program could not be moved: the list changed "
                                       "meanwhile or the change could not be saved. The list "
                                       "shows what is saved."));
        return false;
    }
    NSLog(lcManage(), QtInfoMsg, "moved %ld to %ld", from, to);
    // A screen reader speaks the label's new text.
    m_ui->orderStatus->setText(QStringLiteral("%1 moved to position %2 of %3")
                                   .arg(nameOrProgram(item))
                                   .arg(toRow + 1)
                                   .arg(m_rows.size()));
    return true;
}

void ListViewController::tableViewMenuForRow(TableView *, long row, const QPoint &at)
{
    if (row < 0 || row >= m_rows.size())
        return;
    const ShownRow shown = m_rows.at(row);
    auto *menu = new QMenu(view());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ListViewController> self(this);
    if (shown.item < 0) {
        const QString group = shown.group;
        menu->setObjectName(QStringLiteral("groupMenu"));
        menu->addAction(foldedGroups().contains(group) ? QStringLiteral("Show Group")
                                                       : QStringLiteral("Fold Group"),
                        this, [this, group] { toggleGroup(group); });
        menu->addAction(QStringLiteral("Rename Group…"), this, [this, group] {
            askGroupName(QStringLiteral("Rename Group"), group, [this, group](const QString &to) {
                const bool folded = foldedGroups().remove(group);
                const bool saved = CacheManager::shareIntance()->renameGroup(group, to);
                if (folded)
                    foldedGroups().insert(saved ? programgroups::cleanName(to) : group);
                loadData();
                if (!saved)
                    showSaveFailure(QStringLiteral("The group could not be renamed: the change "
                                                   "could not be saved."));
            });
        });
        menu->addAction(QStringLiteral("Remove Group…"), this,
                        [this, group] { showRemoveGroupAlert(group); });
    } else {
        const qsizetype item = shown.item;
        const QString current = program::group(dataArr.at(item));
        menu->setObjectName(QStringLiteral("rowMenu"));
        menu->addAction(QStringLiteral("Play"), this,
                        [this, item] { playEntry(dataArr.value(item), long(item)); });
        QMenu *into = menu->addMenu(QStringLiteral("Move to Group"));
        into->setObjectName(QStringLiteral("moveToGroupMenu"));
        QAction *none = into->addAction(QStringLiteral("No Group"), this,
                                        [this, item] { moveToGroup(item, QString()); });
        none->setCheckable(true);
        none->setChecked(current.isEmpty());
        into->addSeparator();
        for (const QString &group : std::as_const(m_groups)) {
            QAction *a = into->addAction(QString(group).replace(QLatin1Char('&'), "&&"), this,
                                         [this, item, group] { moveToGroup(item, group); });
            a->setCheckable(true);
            a->setChecked(group == current);
        }
        into->addSeparator();
        into->addAction(QStringLiteral("New Group…"), this, [this, item] {
            askGroupName(QStringLiteral("New Group"), QString(),
                         [this, item](const QString &name) { moveToGroup(item, name); });
        });
        menu->addAction(QStringLiteral("Delete…"), this,
                        [this, item] { deleteEntry(dataArr.value(item), long(item)); });
    }
    menu->popup(at);
}

void ListViewController::newGroupClick(QObject *)
{
    askGroupName(QStringLiteral("New Group"), QString(), [this](const QString &name) {
        const bool saved = CacheManager::shareIntance()->addGroup(name);
        loadData();
        if (!saved)
            showSaveFailure(QStringLiteral("The group could not be made: the change could not "
                                           "be saved."));
    });
}

void ListViewController::toggleGroup(const QString &group)
{
    if (!foldedGroups().remove(group))
        foldedGroups().insert(group);
    loadData();
    // The heading stays the chosen row, so Return folds it back.
    const long row = rowOfHeader(group);
    if (row >= 0 && listTableView()->selectedRow() != row)
        listTableView()->selectRow(row);
}

long ListViewController::rowOfHeader(const QString &group) const
{
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).item < 0 && m_rows.at(row).group == group)
            return long(row);
    }
    return -1;
}

void ListViewController::moveToGroup(qsizetype item, const QString &group)
{
    if (item < 0 || item >= dataArr.size())
        return;
    const QVariant entry = dataArr.at(item);
    const bool saved = CacheManager::shareIntance()->setGroup(item, entry, group);
    loadData();
    if (!saved) {
        showSaveFailure(QStringLiteral("The program could not be moved: the list changed "
                                       "meanwhile or the change could not be saved. The list "
                                       "shows what is saved."));
        return;
    }
    announceGroup(entry, programgroups::cleanName(group));
}

void ListViewController::announceGroup(const QVariant &item, const QString &group)
{
    m_ui->orderStatus->setText(
        group.isEmpty() ? QStringLiteral("%1 moved out of its group").arg(nameOrProgram(item))
                        : QStringLiteral("%1 moved to %2").arg(nameOrProgram(item), group));
}

void ListViewController::askGroupName(const QString &title, const QString &initial,
                                      std::function<void(const QString &)> done)
{
    auto *prompt = new QInputDialog(view()->window());
    prompt->setObjectName(QStringLiteral("groupNamePrompt"));
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->setWindowModality(Qt::WindowModal);
    prompt->setWindowTitle(title);
    prompt->setLabelText(QStringLiteral("Group name:"));
    prompt->setTextValue(initial);
    prompt->setAccessibleName(title);
    QPointer<ListViewController> self(this);
    connect(prompt, &QInputDialog::textValueSelected, this, [self, done](const QString &text) {
        if (self && !programgroups::cleanName(text).isEmpty())
            done(text);
    });
    prompt->open();
}

void ListViewController::showRemoveGroupAlert(const QString &group)
{
    showConfirmation(
        QStringLiteral("Remove the group “%1”? Its programs stay in the list.").arg(group),
        [this, group] {
            const bool saved = CacheManager::shareIntance()->removeGroup(group);
            foldedGroups().remove(group);
            loadData();
            if (!saved)
                showSaveFailure(QStringLiteral("The group could not be removed: the change "
                                               "could not be saved."));
        });
}

void ListViewController::playEntry(const QVariant &item, long row)
{
    NSLog(lcManage(), QtInfoMsg, "播放正在：%ld", row);
    if (item.metaType().id() != QMetaType::QVariantMap) {
        // Not a program: saving it would erase the current program. The
        // player shows that this one cannot be played.
        session::playNonProgram();
        closeClick(nullptr);
        return;
    }
    // The row says which of two equal entries was chosen.
    if (row >= 0 && row < dataArr.size() && program::isEqual(dataArr.at(row), item))
        programindex::chosen(programindex::programs(dataArr.first(row + 1)).constLast());
    if (!session::playProgram(item.toMap())) {
        // Telling the player to play now would start whatever program was
        // current before; stay open and say so instead.
        showSaveFailure(QStringLiteral("The program could not be saved as the current "
                                       "program, so it cannot be played."));
        return;
    }
    closeClick(nullptr);
}

void ListViewController::deleteEntry(const QVariant &item, long row)
{
    NSLog(lcManage(), QtInfoMsg, "删除正在：%ld", row);
    showDelAlert(item);
}

void ListViewController::showConfirmation(const QString &question, std::function<void()> onOK)
{
    Alert alert;
    alert.setMessageText(kAlertTip);
    alert.setInformativeText(question);
    alert.setAlertStyle(Alert::WarningStyle);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.addButtonWithTitle(QStringLiteral("Cancel"));
    // The presenter widens the sheet to the window it is shown on.
    QPointer<ListViewController> self(this);
    alert.beginSheetModalForWindow(view()->window(), [self, onOK](long response) {
        if (!self)
            return;
        if (response == Alert::FirstButtonReturn) {
            NSLog(lcManage(), QtInfoMsg, "OK");
            onOK();
        } else if (response == Alert::SecondButtonReturn) {
            NSLog(lcManage(), QtInfoMsg, "Cancel");
        }
    });
}

void ListViewController::showDelAlert(const QVariant &entry)
{
    showConfirmation(QStringLiteral("Are you sure?"), [this, entry] {
        const bool saved = CacheManager::shareIntance()->delData(entry);
        loadData();
        if (!saved)
            showSaveFailure(QStringLiteral("The program could not be deleted: the change could "
                                           "not be saved."));
    });
}

void ListViewController::redoClick(QObject *)
{
    showRedoAlert();
}

void ListViewController::showRedoAlert()
{
    showConfirmation(QStringLiteral("Restore default programs？"), [this] {
        const bool saved = CacheManager::shareIntance()->redoDefaultData();
        loadData();
        if (!saved) {
            // The current program may not be the default one; do not start it.
            showSaveFailure(QStringLiteral("The default programs could not be restored: the "
                                           "change could not be saved."));
            return;
        }
        session::playCurrentProgram();
    });
}

void ListViewController::closeClick(QObject *sender)
{
    dismissController(sender);
}

void ListViewController::showSaveFailure(const QString &message)
{
    Alert alert;
    alert.setMessageText(kAlertTip);
    alert.setInformativeText(message);
    alert.setAlertStyle(Alert::CriticalStyle);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.beginSheetModalForWindow(view()->window());
}

#include "moc_ListViewController.cpp"
