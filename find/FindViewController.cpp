#include "find/FindViewController.h"

#include "find/StationModel.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/WindowFront.h"
#include "session/PlayProgram.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "ui_FindView.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace {

QString quoted(const QString &name)
{
    return QStringLiteral("“%1”").arg(name);
}

bool sameStream(const QString &a, const QString &b)
{
    const auto norm = [](const QString &s) {
        return QUrl(s.trimmed()).adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
    };
    return a.trimmed() == b.trimmed() || norm(a) == norm(b);
}

} // namespace

FindViewController::FindViewController(QObject *parent)
    : ViewController(parent), m_client(new DirectoryClient(this)), m_model(new StationModel(this))
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(kDebounceMs);
    connect(&m_debounce, &QTimer::timeout, this, &FindViewController::searchNow);
    connect(m_client, &DirectoryClient::searchFinished, this, &FindViewController::searchFinished);
    connect(m_client, &DirectoryClient::searchFailed, this, &FindViewController::searchFailed);
    connect(m_client, &DirectoryClient::busyChanged, this, &FindViewController::updateControls);
}

FindViewController::~FindViewController()
{
    m_client->cancel();
    if (isViewLoaded())
        delete view();
}

QWidget *FindViewController::loadView()
{
    auto *root = new QWidget;
    m_ui = std::make_unique<Ui::FindView>();
    m_ui->setupUi(root);
    QTableView *table = m_ui->resultsTable;
    table->setModel(m_model);
    table->setIconSize(QSize(StationModel::kIconSize, StationModel::kIconSize));
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(StationModel::kIconSize + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->resizeSection(StationModel::NameColumn, 280);
    table->horizontalHeader()->resizeSection(StationModel::CountryColumn, 120);
    table->horizontalHeader()->resizeSection(StationModel::FormatColumn, 120);

    for (QLineEdit *field :
         {m_ui->searchField, m_ui->countryField, m_ui->languageField, m_ui->tagField}) {
        // Any change searches, typed or not: the clear button, pasting, and
        // assistive tools (voice control sets the text as a whole) change
        // the text without a key press.
        connect(field, &QLineEdit::textChanged, &m_debounce, qOverload<>(&QTimer::start));
        connect(field, &QLineEdit::returnPressed, this, &FindViewController::searchNow);
    }
    m_ui->searchField->installEventFilter(this);
    connect(table, &QAbstractItemView::activated, this,
            [this](const QModelIndex &index) { playRow(index.row()); });
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &FindViewController::updateControls);
    connect(m_ui->playButton, &QPushButton::clicked, this, [this] { playRow(chosenRow()); });
    connect(m_ui->addButton, &QPushButton::clicked, this, [this] { addRow(chosenRow()); });
    connect(m_ui->moreButton, &QPushButton::clicked, this, &FindViewController::loadMore);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &FindViewController::closeClick);

    auto shortcut = [root, this](const QKeySequence &keys, const char *name,
                                 std::function<void()> action) {
        ShortcutRegistry::add(root, keys, QString::fromLatin1(name), this, std::move(action));
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_D), "addShortcut", [this] { addRow(chosenRow()); });
    shortcut(QKeySequence(Qt::Key_Escape), "closeShortcut", [this] { closeClick(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), "searchShortcut", [this] {
        m_ui->searchField->setFocus();
        m_ui->searchField->selectAll();
    });
    return root;
}

void FindViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    setBackgroundColor(view(), Qt::white);
    updateControls();
}

void FindViewController::showWindow(QWidget *near)
{
    QWidget *window = view();
    if (!window->isVisible()) {
        placeNear(window, near);
    }
    bringToFront(window);
    m_ui->searchField->setFocus();
    m_ui->searchField->selectAll();
    if (!m_searched)
        searchNow();
}

StationQuery FindViewController::typedQuery() const
{
    StationQuery query;
    query.name = m_ui->searchField->text();
    query.country = m_ui->countryField->text();
    query.language = m_ui->languageField->text();
    query.tag = m_ui->tagField->text();
    query.limit = kPageSize;
    return query;
}

int FindViewController::chosenRow() const
{
    const QModelIndex current = m_ui->resultsTable->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void FindViewController::searchNow()
{
    view();
    m_debounce.stop();
    m_searched = true;
    setStatus(QStringLiteral("Searching…"));
    m_client->search(typedQuery());
}

void FindViewController::loadMore()
{
    if (!m_hasMore || m_client->isBusy())
        return;
    StationQuery query = m_shown;
    query.offset = m_nextOffset;
    setStatus(QStringLiteral("Loading more stations…"));
    m_client->search(query);
}

void FindViewController::searchFinished(const StationQuery &query, const QList<Station> &stations,
                                        int skipped)
{
    const int received = int(stations.size()) + skipped;
    m_shown = query;
    m_nextOffset = query.offset + received;
    m_hasMore = received >= query.limit;
    if (query.offset == 0) {
        m_model->setStations(stations);
        if (m_model->count() > 0)
            m_ui->resultsTable->setCurrentIndex(m_model->index(0, StationModel::NameColumn));
    } else {
        m_model->appendStations(stations);
    }
    QString text;
    if (m_model->count() == 0)
        text = QStringLiteral("No stations found.");
    else if (m_model->count() == 1)
        text = QStringLiteral("1 station.");
    else
        text = QStringLiteral("%1 stations%2.")
                   .arg(m_model->count())
                   .arg(m_hasMore ? QStringLiteral(", more with “More”") : QString());
    if (skipped > 0)
        text += QStringLiteral(" %1 unreadable %2 left out.")
                    .arg(skipped)
                    .arg(skipped == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
    setStatus(text);
    updateControls();
}

void FindViewController::searchFailed(const StationQuery &, const QString &message)
{
    setStatus(message);
    updateControls();
}

void FindViewController::playRow(int row)
{
    if (row < 0 || row >= m_model->count()) {
        setStatus(QStringLiteral("Choose a station first."));
        return;
    }
    const Station &s = m_model->station(row);
    if (!session::playProgram(program::make(s.name, s.favicon, s.streamUrl))) {
        setStatus(QStringLiteral("%1 could not be saved as the current program, so it cannot be "
                                 "played.")
                      .arg(quoted(s.name)));
        return;
    }
    m_client->reportClick(s.uuid);
    setStatus(QStringLiteral("Playing %1.").arg(quoted(s.name)));
}

void FindViewController::addRow(int row)
{
    if (row < 0 || row >= m_model->count()) {
        setStatus(QStringLiteral("Choose a station first."));
        return;
    }
    const Station s = m_model->station(row);
    for (const QVariant &entry : CacheManager::shareIntance()->getData()) {
        if (sameStream(program::url(entry), s.streamUrl)) {
            setStatus(QStringLiteral("%1 is already in your programs as %2.")
                          .arg(quoted(s.name), quoted(program::name(entry))));
            return;
        }
    }
    if (!CacheManager::shareIntance()->saveData(program::make(s.name, s.favicon, s.streamUrl))) {
        setStatus(QStringLiteral("%1 could not be added: the change could not be saved.")
                      .arg(quoted(s.name)));
        return;
    }
    setStatus(QStringLiteral("Added %1 to your programs.").arg(quoted(s.name)));
    Q_EMIT stationAdded();
}

void FindViewController::closeClick()
{
    m_debounce.stop();
    if (isViewLoaded())
        view()->close();
}

bool FindViewController::eventFilter(QObject *watched, QEvent *event)
{
    // Down from the search field goes on to the results.
    if (m_ui && watched == m_ui->searchField && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Down && m_model->count() > 0) {
        m_ui->resultsTable->setFocus();
        if (chosenRow() < 0)
            m_ui->resultsTable->setCurrentIndex(m_model->index(0, StationModel::NameColumn));
        return true;
    }
    return ViewController::eventFilter(watched, event);
}

void FindViewController::setStatus(const QString &text)
{
    if (m_ui)
        m_ui->statusLabel->setText(text);
}

void FindViewController::updateControls()
{
    if (!m_ui)
        return;
    const bool busy = m_client->isBusy();
    const bool chosen = chosenRow() >= 0;
    m_ui->busyIndicator->setVisible(busy);
    m_ui->playButton->setEnabled(chosen);
    m_ui->addButton->setEnabled(chosen);
    m_ui->moreButton->setEnabled(m_hasMore && !busy);
}

#include "moc_FindViewController.cpp"
