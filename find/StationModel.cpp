#include "find/StationModel.h"

#include "platform/net/ImageLoader.h"

#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString column(const Station &s, int column)
{
    switch (column) {
    case StationModel::NameColumn: return s.name;
    case StationModel::CountryColumn: return s.country;
    case StationModel::FormatColumn: return s.formatText();
    case StationModel::TagsColumn: return s.tags;
    default: return {};
    }
}

// A tooltip is rich text when it looks like markup; escaping it and marking
// it as rich text shows a station's name exactly as it was given.
QString literalToolTip(const QString &text)
{
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

QPixmap placeholder()
{
    QPixmap blank(StationModel::kIconSize, StationModel::kIconSize);
    blank.fill(Qt::transparent);
    return blank;
}

} // namespace

StationModel::StationModel(QObject *parent) : QAbstractTableModel(parent), m_blank(placeholder()) {}

void StationModel::setStations(const QList<Station> &stations)
{
    beginResetModel();
    delete m_imageContext.data();
    m_imageContext = new QObject(this);
    m_stations.clear();
    m_uuids.clear();
    m_requested.clear();
    m_icons.clear();
    for (const Station &s : stations) {
        if (s.uuid.isEmpty() || !m_uuids.contains(s.uuid)) {
            m_uuids.insert(s.uuid);
            m_stations << s;
        }
    }
    endResetModel();
}

int StationModel::appendStations(const QList<Station> &stations)
{
    QList<Station> fresh;
    for (const Station &s : stations) {
        if (s.uuid.isEmpty() || !m_uuids.contains(s.uuid)) {
            m_uuids.insert(s.uuid);
            fresh << s;
        }
    }
    if (fresh.isEmpty())
        return 0;
    beginInsertRows(QModelIndex(), count(), count() + int(fresh.size()) - 1);
    m_stations << fresh;
    endInsertRows();
    return int(fresh.size());
}

int StationModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int StationModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StationModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const Station &s = m_stations.at(index.row());
    switch (role) {
    case Qt::DisplayRole: return column(s, index.column());
    case Qt::DecorationRole: return index.column() == NameColumn ? icon(index.row()) : QVariant();
    case Qt::AccessibleTextRole:
        return index.column() == NameColumn ? s.name : column(s, index.column());
    case Qt::AccessibleDescriptionRole:
        if (index.column() != NameColumn)
            return {};
        return QStringList{s.country, s.formatText(), s.tags}
            .filter(QRegularExpression(QStringLiteral("\\S")))
            .join(QStringLiteral(", "));
    case Qt::ToolTipRole: {
        const QString text = column(s, index.column());
        return text.isEmpty() ? QVariant() : QVariant(literalToolTip(text));
    }
    default: return {};
    }
}

QVariant StationModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if ((role == Qt::DisplayRole || role == Qt::AccessibleTextRole) && section >= 0 &&
            section < count())
            return m_stations.at(section).name;
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn: return QStringLiteral("Station");
    case CountryColumn: return QStringLiteral("Country");
    case FormatColumn: return QStringLiteral("Format");
    case TagsColumn: return QStringLiteral("Tags");
    default: return {};
    }
}

QVariant StationModel::icon(int row) const
{
    const QPixmap &blank = m_blank;
    const QString url = m_stations.at(row).favicon;
    if (url.isEmpty())
        return blank;
    if (const auto it = m_icons.constFind(url); it != m_icons.constEnd())
        return *it;
    if (!m_requested.contains(url) && m_imageContext) {
        m_requested.insert(url);
        QPointer<StationModel> self(const_cast<StationModel *>(this));
        ImageLoader::shared()->load(QUrl(url), m_imageContext, [self, url](const QImage &image) {
            if (self)
                self->iconArrived(url, image);
        });
    }
    return blank;
}

void StationModel::iconArrived(const QString &url, const QImage &image)
{
    if (image.isNull())
        return;
    QPixmap pixmap = placeholder();
    {
        const QImage scaled =
            image.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&pixmap);
        painter.drawImage((kIconSize - scaled.width()) / 2, (kIconSize - scaled.height()) / 2,
                          scaled);
    }
    m_icons.insert(url, pixmap);
    for (int row = 0; row < count(); ++row) {
        if (m_stations.at(row).favicon == url) {
            const QModelIndex cell = index(row, NameColumn);
            Q_EMIT dataChanged(cell, cell, {Qt::DecorationRole});
        }
    }
}

#include "moc_StationModel.cpp"
