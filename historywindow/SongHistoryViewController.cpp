#include "historywindow/SongHistoryViewController.h"

#include "history/SongTableModel.h"
#include "history/WebSearch.h"
#include "platform/ui/Alert.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/WindowFront.h"
#include "ui_SongHistoryView.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QStandardPaths>

#include <algorithm>

namespace {

QString quoted(const QString &text)
{
    return QStringLiteral("“%1”").arg(text);
}

QString songsText(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 song") : QStringLiteral("%1 songs").arg(n);
}

QString askPath(songexport::Format format, bool favouritesOnly)
{
    const bool csv = format == songexport::Format::Csv;
    const QString name =
        (favouritesOnly ? QStringLiteral("favourite-songs") : QStringLiteral("song-history")) +
        (csv ? QStringLiteral(".csv") : QStringLiteral(".json"));
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileDialog::getSaveFileName(
        QApplication::activeWindow(), QStringLiteral("Export Song History"),
        dir + QLatin1Char('/') + name,
        csv ? QStringLiteral("CSV (*.csv)") : QStringLiteral("JSON (*.json)"));
}

} // namespace

SongHistoryViewController::SongHistoryViewController(HistoryStore *store, QObject *parent)
    : ViewController(parent), m_store(store), m_model(new SongTableModel(store, this)),
      m_choosePath(askPath)
{
    connect(m_model, &QAbstractItemModel::dataChanged, this,
            &SongHistoryViewController::updateControls);
}

SongHistoryViewController::~SongHistoryViewController()
{
    if (isViewLoaded())
        delete view();
}

QWidget *SongHistoryViewController::loadView()
{
    auto *root = new QWidget;
    m_ui = std::make_unique<Ui::SongHistoryView>();
    m_ui->setupUi(root);
    QTableView *table = m_ui->songTable;
    table->setModel(m_model);
    // The chosen rows stay chosen while the history changes under them
    // (after the view and its selection have taken the reset).
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this,
            &SongHistoryViewController::rememberChoice);
    connect(m_model, &QAbstractItemModel::modelReset, this,
            &SongHistoryViewController::restoreChoice);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 10);
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(SongTableModel::StarColumn, QHeaderView::Fixed);
    header->resizeSection(SongTableModel::StarColumn, 32);
    header->setSectionResizeMode(SongTableModel::ScrobbledColumn, QHeaderView::Fixed);
    header->resizeSection(SongTableModel::ScrobbledColumn, 28);
    header->resizeSection(SongTableModel::TimeColumn, 130);
    header->resizeSection(SongTableModel::ProgramColumn, 180);
    table->installEventFilter(this);
    m_ui->searchField->installEventFilter(this);
    m_ui->saveSongButton->hide();

    // Any change filters, typed or not (the clear button, pasting, voice
    // control setting the text as a whole).
    connect(m_ui->searchField, &QLineEdit::textChanged, this,
            &SongHistoryViewController::filterChanged);
    connect(m_ui->favouritesOnlyBox, &QCheckBox::toggled, this,
            &SongHistoryViewController::filterChanged);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SongHistoryViewController::updateControls);
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &SongHistoryViewController::updateControls);
    connect(m_ui->starButton, &QPushButton::clicked, this, &SongHistoryViewController::toggleStar);
    connect(m_ui->copyButton, &QPushButton::clicked, this, &SongHistoryViewController::copyChosen);
    connect(m_ui->saveSongButton, &QPushButton::clicked, this,
            &SongHistoryViewController::saveChosen);
    connect(m_ui->deleteButton, &QPushButton::clicked, this,
            &SongHistoryViewController::deleteChosen);
    connect(m_ui->clearButton, &QPushButton::clicked, this, &SongHistoryViewController::clearClick);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &SongHistoryViewController::closeClick);
    buildMenus();

    auto shortcut = [root, this](const QKeySequence &keys, const char *name,
                                 std::function<void()> action) {
        ShortcutRegistry::add(root, keys, QString::fromLatin1(name), this, std::move(action));
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_D), "starShortcut", [this] { toggleStar(); });
    shortcut(QKeySequence(Qt::Key_Escape), "closeShortcut", [this] { closeClick(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), "searchShortcut", [this] {
        m_ui->searchField->setFocus();
        m_ui->searchField->selectAll();
    });
    return root;
}

void SongHistoryViewController::buildMenus()
{
    auto *web = new QMenu(m_ui->webSearchButton);
    web->setObjectName(QStringLiteral("webSearchMenu"));
    // Read when opened, so an edited settings file counts at once.
    connect(web, &QMenu::aboutToShow, this, [this, web] {
        web->clear();
        for (const websearch::Engine &engine : websearch::engines()) {
            QAction *action = web->addAction(QStringLiteral("%1").arg(engine.name));
            connect(action, &QAction::triggered, this,
                    [this, url = engine.urlTemplate] { openWebSearch(url); });
        }
    });
    m_ui->webSearchButton->setMenu(web);

    auto *menu = new QMenu(m_ui->exportButton);
    menu->setObjectName(QStringLiteral("exportMenu"));
    using songexport::Format;
    const struct {
        const char *text, *name;
        Format format;
        bool favourites;
    } items[] = {
        {"All Songs as CSV…", "exportAllCsvAction", Format::Csv, false},
        {"All Songs as JSON…", "exportAllJsonAction", Format::Json, false},
        {"Favourites as CSV…", "exportFavouritesCsvAction", Format::Csv, true},
        {"Favourites as JSON…", "exportFavouritesJsonAction", Format::Json, true},
    };
    for (const auto &item : items) {
        QAction *action = menu->addAction(QString::fromUtf8(item.text));
        action->setObjectName(QString::fromLatin1(item.name));
        connect(action, &QAction::triggered, this,
                [this, f = item.format, fav = item.favourites] { exportAsked(f, fav); });
    }
    m_ui->exportButton->setMenu(menu);
}

void SongHistoryViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    setBackgroundColor(view(), Qt::white);
    updateControls();
}

void SongHistoryViewController::showWindow(QWidget *near)
{
    QWidget *window = view();
    if (!window->isVisible()) {
        placeNear(window, near);
        // What was heard since it was last open.
        m_model->reload();
    }
    bringToFront(window);
    m_ui->searchField->setFocus();
    m_ui->searchField->selectAll();
}

void SongHistoryViewController::setSaveSongHandler(SaveCheck canSave, Save save)
{
    m_canSave = std::move(canSave);
    m_save = std::move(save);
    if (m_ui) {
        m_ui->saveSongButton->setVisible(bool(m_canSave) && bool(m_save));
        updateControls();
    }
}

void SongHistoryViewController::setExportPathChooser(PathChooser choose)
{
    m_choosePath = std::move(choose);
}

void SongHistoryViewController::filterChanged()
{
    m_model->setFilter(m_ui->searchField->text(), m_ui->favouritesOnlyBox->isChecked());
    updateControls();
}

QList<HistoryStore::Song> SongHistoryViewController::chosenSongs() const
{
    QList<HistoryStore::Song> out;
    if (!m_ui)
        return out;
    QModelIndexList rows = m_ui->songTable->selectionModel()->selectedRows();
    if (rows.isEmpty() && m_ui->songTable->currentIndex().isValid())
        rows << m_ui->songTable->currentIndex();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &index : rows) {
        if (index.row() < m_model->count())
            out << m_model->song(index.row());
    }
    return out;
}

void SongHistoryViewController::rememberChoice()
{
    m_chosenIds.clear();
    m_currentId = 0;
    if (!m_ui)
        return;
    for (const HistoryStore::Song &s : chosenSongs())
        m_chosenIds << s.id;
    const QModelIndex current = m_ui->songTable->currentIndex();
    if (current.isValid() && current.row() < m_model->count())
        m_currentId = m_model->song(current.row()).id;
}

void SongHistoryViewController::restoreChoice()
{
    if (!m_ui)
        return;
    QItemSelectionModel *selection = m_ui->songTable->selectionModel();
    const int currentRow = m_model->rowOf(m_currentId);
    if (currentRow >= 0)
        selection->setCurrentIndex(m_model->index(currentRow, SongTableModel::TitleColumn),
                                   QItemSelectionModel::NoUpdate);
    QItemSelection chosen;
    for (qint64 id : std::as_const(m_chosenIds)) {
        const int row = m_model->rowOf(id);
        if (row >= 0)
            chosen.select(m_model->index(row, 0), m_model->index(row, SongTableModel::TitleColumn));
    }
    selection->select(chosen, QItemSelectionModel::ClearAndSelect);
    updateControls();
}

void SongHistoryViewController::copyChosen()
{
    const QList<HistoryStore::Song> songs = chosenSongs();
    if (songs.isEmpty()) {
        setStatus(QStringLiteral("Choose a song first."));
        return;
    }
    QStringList lines;
    for (const HistoryStore::Song &s : songs)
        lines << songexport::line(s);
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    setStatus(songs.size() == 1 ? QStringLiteral("Copied %1.").arg(quoted(lines.first()))
                                : QStringLiteral("Copied %1.").arg(songsText(songs.size())));
}

void SongHistoryViewController::toggleStar()
{
    const QList<HistoryStore::Song> songs = chosenSongs();
    if (songs.isEmpty()) {
        setStatus(QStringLiteral("Choose a song first."));
        return;
    }
    // All starred stay starred unless every one already was.
    bool allStarred = true;
    for (const HistoryStore::Song &s : songs)
        allStarred = allStarred && s.favourite;
    for (const HistoryStore::Song &s : songs) {
        const int row = m_model->rowOf(s.id);
        if (row >= 0 &&
            !m_model->setData(m_model->index(row, SongTableModel::StarColumn),
                              allStarred ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole)) {
            setStatus(QStringLiteral("The star could not be saved."));
            return;
        }
    }
    setStatus(songs.size() == 1
                  ? QStringLiteral("%1 %2.").arg(allStarred ? QStringLiteral("Unstarred")
                                                            : QStringLiteral("Starred"),
                                                 quoted(songexport::line(songs.first())))
                  : QStringLiteral("%1 %2.").arg(allStarred ? QStringLiteral("Unstarred")
                                                            : QStringLiteral("Starred"),
                                                 songsText(songs.size())));
    updateControls();
}

void SongHistoryViewController::deleteChosen()
{
    const QList<HistoryStore::Song> songs = chosenSongs();
    if (songs.isEmpty()) {
        setStatus(QStringLiteral("Choose a song first."));
        return;
    }
    const int firstRow = m_model->rowOf(songs.first().id);
    int removed = 0;
    for (const HistoryStore::Song &s : songs)
        removed += m_store->remove(s.id) ? 1 : 0;
    m_model->reload();
    // The next song down becomes the chosen one, for the next Delete.
    if (m_model->count() > 0 && firstRow >= 0) {
        const QModelIndex next =
            m_model->index(qMin(firstRow, m_model->count() - 1), SongTableModel::TitleColumn);
        m_ui->songTable->selectionModel()->setCurrentIndex(
            next, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    setStatus(removed == songs.size()
                  ? QStringLiteral("Removed %1.")
                        .arg(songs.size() == 1 ? quoted(songexport::line(songs.first()))
                                               : songsText(removed))
                  : QStringLiteral("%1 of %2 could not be removed.")
                        .arg(songsText(songs.size() - removed))
                        .arg(songs.size()));
}

void SongHistoryViewController::saveChosen()
{
    const QList<HistoryStore::Song> songs = chosenSongs();
    if (songs.isEmpty() || !m_canSave || !m_save || !m_canSave(songs.first()))
        return;
    m_save(songs.first());
}

void SongHistoryViewController::openWebSearch(const QString &urlTemplate)
{
    const QList<HistoryStore::Song> songs = chosenSongs();
    if (songs.isEmpty()) {
        setStatus(QStringLiteral("Choose a song first."));
        return;
    }
    const QUrl url = websearch::url(urlTemplate, songexport::line(songs.first()));
    if (!url.isValid()) {
        setStatus(QStringLiteral("The web search address %1 is not an http or https address "
                                 "with %s.")
                      .arg(quoted(urlTemplate)));
        return;
    }
    if (!QDesktopServices::openUrl(url))
        setStatus(QStringLiteral("No browser could open %1.").arg(url.host()));
}

void SongHistoryViewController::clearClick()
{
    Alert alert;
    alert.setMessageText(QStringLiteral("Tip："));
    alert.setInformativeText(QStringLiteral("Remove every song from the history, starred songs "
                                            "too? This cannot be undone."));
    alert.setAlertStyle(Alert::WarningStyle);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.addButtonWithTitle(QStringLiteral("Cancel"));
    QPointer<SongHistoryViewController> self(this);
    alert.beginSheetModalForWindow(view()->window(), [self](long response) {
        if (!self || response != Alert::FirstButtonReturn)
            return;
        if (self->m_store->clear()) {
            self->m_model->reload();
            self->setStatus(QStringLiteral("The history is empty."));
        } else {
            self->setStatus(QStringLiteral("The history could not be cleared."));
        }
    });
}

void SongHistoryViewController::exportAsked(songexport::Format format, bool favouritesOnly)
{
    const QString path = m_choosePath ? m_choosePath(format, favouritesOnly) : QString();
    if (!path.isEmpty())
        exportTo(path, format, favouritesOnly);
}

bool SongHistoryViewController::exportTo(const QString &path, songexport::Format format,
                                         bool favouritesOnly)
{
    const QList<HistoryStore::Song> songs =
        m_store->songs(QString(), favouritesOnly, HistoryStore::kMaxSongs);
    QString error;
    if (!songexport::writeFile(path, songexport::encode(songs, format), &error)) {
        setStatus(QStringLiteral("Could not export to %1: %2").arg(quoted(path), error));
        return false;
    }
    setStatus(QStringLiteral("Exported %1 to %2.").arg(songsText(songs.size()), quoted(path)));
    return true;
}

void SongHistoryViewController::closeClick()
{
    if (isViewLoaded())
        view()->close();
}

bool SongHistoryViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_ui || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return ViewController::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (watched == m_ui->songTable) {
        // Copy, Delete and Space act on songs here (the table would copy
        // one cell, and Space would only choose the row).
        const bool copy = key->matches(QKeySequence::Copy);
        const bool plain = key->modifiers() == Qt::NoModifier;
        const bool del = key->key() == Qt::Key_Delete && plain;
        const bool star = key->key() == Qt::Key_Space && plain;
        if (copy || del || star) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return false;
            }
            if (copy)
                copyChosen();
            else if (del)
                deleteChosen();
            else
                toggleStar();
            return true;
        }
    } else if (watched == m_ui->searchField && event->type() == QEvent::KeyPress &&
               key->key() == Qt::Key_Down && m_model->count() > 0) {
        // Down from the search field goes on to the songs.
        m_ui->songTable->setFocus();
        if (!m_ui->songTable->currentIndex().isValid())
            m_ui->songTable->selectionModel()->setCurrentIndex(
                m_model->index(0, SongTableModel::TitleColumn),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return true;
    }
    return ViewController::eventFilter(watched, event);
}

void SongHistoryViewController::setStatus(const QString &text)
{
    view();
    m_ui->statusLabel->setText(text);
}

void SongHistoryViewController::updateControls()
{
    if (!m_ui)
        return;
    const QList<HistoryStore::Song> songs = chosenSongs();
    const bool chosen = !songs.isEmpty();
    bool allStarred = chosen;
    for (const HistoryStore::Song &s : songs)
        allStarred = allStarred && s.favourite;
    m_ui->starButton->setEnabled(chosen);
    m_ui->starButton->setChecked(allStarred);
    m_ui->starButton->setText(allStarred ? QStringLiteral("Unstar") : QStringLiteral("Star"));
    m_ui->copyButton->setEnabled(chosen);
    m_ui->webSearchButton->setEnabled(chosen);
    m_ui->deleteButton->setEnabled(chosen);
    m_ui->saveSongButton->setEnabled(chosen && m_canSave && m_save && m_canSave(songs.first()));
    m_ui->clearButton->setEnabled(m_store->isOpen());
    if (m_model->count() == 0)
        setStatus(m_model->filterText().trimmed().isEmpty() && !m_model->favouritesOnly()
                      ? QStringLiteral("No songs yet: the titles of what you hear are kept "
                                       "here.")
                      : QStringLiteral("No songs match."));
}

#include "moc_SongHistoryViewController.cpp"
