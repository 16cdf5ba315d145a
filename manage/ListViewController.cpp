#include "manage/ListViewController.h"

#include "manage/AlertTexts.h"
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
#include "store/ProgramIndex.h"
#include "store/ProgramStore.h"
#include "ui_ListView.h"

#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

namespace {
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
    dataArr = CacheManager::shareIntance()->getData();
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
    return long(dataArr.size());
}

int ListViewController::heightOfRow(TableView *, long)
{
    return kRowHeight;
}

QWidget *ListViewController::viewForRow(TableView *tableView, long row)
{
    auto *cell = qobject_cast<ListCell *>(tableView->makeViewWithIdentifier(kCellIdentifier, this));
    if (!cell || row < 0 || row >= dataArr.size())
        return cell;
    const QVariant item = dataArr.at(row);

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
    announce::setDescription(cell, url);
    announce::setName(cell->previewImageView(),
                      announce::pictureName(name, QStringLiteral("Program picture")));
    announce::setName(cell->listPlayBtn(), QStringLiteral("Play %1").arg(name).trimmed());
    announce::setName(cell->listDelBtn(), QStringLiteral("Delete %1").arg(name).trimmed());
    cell->setRow(row);

    QPointer<ListViewController> self(this);
    cell->setMouseBlock([row] { NSLog(lcManage(), QtDebugMsg, "鼠标正在：%ld", row); });
    cell->setPlayBlock([self, item, row] {
        if (self)
            self->playEntry(item, row);
    });
    cell->setDelBlock([self, item, row] {
        if (self)
            self->deleteEntry(item, row);
    });
    return cell;
}

void ListViewController::tableViewSelectionDidChange(TableView *)
{
    NSLog(lcManage(), QtDebugMsg, "tableColumn：%ld", listTableView()->selectedRow());
}

void ListViewController::tableViewDeleteRow(TableView *, long row)
{
    if (row >= 0 && row < dataArr.size())
        deleteEntry(dataArr.at(row), row);
}

void ListViewController::tableViewActivateRow(TableView *, long row)
{
    if (row >= 0 && row < dataArr.size())
        playEntry(dataArr.at(row), row);
}

bool ListViewController::tableViewMoveRow(TableView *, long from, long to)
{
    if (from < 0 || from >= dataArr.size() || to < 0 || to >= dataArr.size())
        return false;
    const QVariant item = dataArr.at(from);
    const bool saved = CacheManager::shareIntance()->moveData(from, to, item);
    loadData();
    if (!saved) {
        showSaveFailure(QStringLiteral("The program could not be moved: the list changed "
                                       "meanwhile or the change could not be saved. The list "
                                       "shows what is saved."));
        return false;
    }
    NSLog(lcManage(), QtInfoMsg, "moved %ld to %ld", from, to);
    // A screen reader speaks the label's new text.
    const QString name = program::name(item);
    m_ui->orderStatus->setText(QStringLiteral("%1 moved to position %2 of %3")
                                   .arg(name.isEmpty() ? QStringLiteral("Program") : name)
                                   .arg(to + 1)
                                   .arg(dataArr.size()));
    return true;
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
