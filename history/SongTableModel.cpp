#include "history/SongTableModel.h"

#include "history/SongExport.h"
#include "platform/base/Clock.h"

#include <QLocale>

SongTableModel::SongTableModel(HistoryStore *store, QObject *parent)
    : QAbstractTableModel(parent), m_store(store)
{
    m_changed.setSingleShot(true);
    m_changed.setInterval(0);
    connect(&m_changed, &QTimer::timeout, this, &SongTableModel::reload);
    connect(store, &HistoryStore::songsChanged, &m_changed, qOverload<>(&QTimer::start));
    load(kPageSize);
}

void SongTableModel::setFilter(const QString &text, bool favouritesOnly)
{
    if (text == m_text && favouritesOnly == m_favouritesOnly)
        return;
    m_text = text;
    m_favouritesOnly = favouritesOnly;
    load(kPageSize);
}

void SongTableModel::reload()
{
    m_changed.stop();
    load(qMax(count(), kPageSize));
}

void SongTableModel::load(int rows)
{
    beginResetModel();
    m_songs = m_store->songs(m_text, m_favouritesOnly, rows + 1);
    m_more = m_songs.size() > rows;
    if (m_more)
        m_songs.removeLast();
    endResetModel();
}

int SongTableModel::rowOf(qint64 id) const
{
    for (int row = 0; row < count(); ++row) {
        if (m_songs.at(row).id == id)
            return row;
    }
    return -1;
}

bool SongTableModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_more;
}

void SongTableModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || !m_more || m_songs.isEmpty())
        return;
    QList<HistoryStore::Song> next =
        m_store->songsAfter(m_songs.last(), m_text, m_favouritesOnly, kPageSize + 1);
    m_more = next.size() > kPageSize;
    if (m_more)
        next.removeLast();
    if (next.isEmpty())
        return;
    beginInsertRows(QModelIndex(), count(), count() + int(next.size()) - 1);
    m_songs << next;
    endInsertRows();
}

QString SongTableModel::timeText(const QDateTime &startedUtc, const QDateTime &nowUtc)
{
    const QDateTime local = startedUtc.toLocalTime();
    if (local.date() == nowUtc.toLocalTime().date())
        return local.toString(QStringLiteral("HH:mm"));
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

int SongTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int SongTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SongTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const HistoryStore::Song &s = m_songs.at(index.row());
    const int column = index.column();
    if (column == StarColumn) {
        switch (role) {
        case Qt::CheckStateRole: return s.favourite ? Qt::Checked : Qt::Unchecked;
        case Qt::AccessibleTextRole:
            return s.favourite ? QStringLiteral("Starred") : QStringLiteral("Not starred");
        case Qt::ToolTipRole:
            return s.favourite ? QStringLiteral("Starred (Space removes the star)")
                               : QStringLiteral("Space stars this song");
        default: return {};
        }
    }
    if (column == ScrobbledColumn) {
        switch (role) {
        case Qt::DisplayRole: return s.scrobbled ? QStringLiteral("✓") : QString();
        case Qt::AccessibleTextRole:
            return s.scrobbled ? QStringLiteral("Scrobbled") : QStringLiteral("Not scrobbled");
        case Qt::ToolTipRole:
            return s.scrobbled ? QStringLiteral("Sent to ListenBrainz or Last.fm") : QVariant();
        default: return {};
        }
    }
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case TimeColumn: return timeText(s.started, Clock::shared()->currentDateTimeUtc());
        case ProgramColumn: return s.program;
        case TitleColumn: return s.title;
        default: return {};
        }
    case Qt::AccessibleTextRole:
        switch (column) {
        case TimeColumn: return QLocale().toString(s.started.toLocalTime(), QLocale::LongFormat);
        case ProgramColumn: return s.program;
        case TitleColumn: return songexport::line(s);
        default: return {};
        }
    case Qt::ToolTipRole:
        // Escaped and marked as rich text, so a title that looks like markup
        // shows as it was sent.
        if (column == TitleColumn || column == ProgramColumn)
            return QStringLiteral("<qt>%1</qt>")
                .arg((column == TitleColumn ? s.title : s.program).toHtmlEscaped());
        return {};
    default: return {};
    }
}

bool SongTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= count() || index.column() != StarColumn ||
        role != Qt::CheckStateRole)
        return false;
    HistoryStore::Song &s = m_songs[index.row()];
    const bool starred = value.toInt() == Qt::Checked;
    // The row is changed here; the store's word of it needs no reload of
    // what is shown (which may be thousands of rows).
    const bool reloadDue = m_changed.isActive();
    if (!m_store->setFavourite(s.id, starred))
        return false;
    if (!reloadDue && !m_favouritesOnly)
        m_changed.stop();
    s.favourite = starred;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole, Qt::AccessibleTextRole});
    return true;
}

Qt::ItemFlags SongTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == StarColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant SongTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if ((role == Qt::DisplayRole || role == Qt::AccessibleTextRole) && section >= 0 &&
            section < count())
            return songexport::line(m_songs.at(section));
        return {};
    }
    if (role == Qt::AccessibleTextRole && section == StarColumn)
        return QStringLiteral("Starred");
    if (role == Qt::AccessibleTextRole && section == ScrobbledColumn)
        return QStringLiteral("Scrobbled");
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case StarColumn: return QStringLiteral("★");
    case ScrobbledColumn: return QStringLiteral("✓");
    case TimeColumn: return QStringLiteral("Time");
    case ProgramColumn: return QStringLiteral("Program");
    case TitleColumn: return QStringLiteral("Title");
    default: return {};
    }
}

#include "moc_SongTableModel.cpp"
