#pragma once

#include "find/Station.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QSet>

// The Find Stations results: one row per station, in the directory's order.
// Favicons load (through ImageLoader::shared()) when a row first shows
// them; an answer for an earlier result list is never delivered.
//
// Each row reads out as its station's name: the name cell's accessible
// text and the (hidden) row header are the name; the name cell's
// accessible description holds the rest.
class StationModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, CountryColumn, FormatColumn, TagsColumn, ColumnCount };
    static constexpr int kIconSize = 24;

    explicit StationModel(QObject *parent = nullptr);

    void setStations(const QList<Station> &stations);
    // Adds the stations not shown yet (by uuid); returns how many were added.
    int appendStations(const QList<Station> &stations);
    void clear() { setStations({}); }
    const Station &station(int row) const { return m_stations.at(row); }
    int count() const { return int(m_stations.size()); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QVariant icon(int row) const;
    void iconArrived(const QString &url, const QImage &image);

    QList<Station> m_stations;
    QSet<QString> m_uuids;
    // Replies for a result list that was replaced go to a dead context.
    QPointer<QObject> m_imageContext;
    mutable QSet<QString> m_requested;
    QHash<QString, QPixmap> m_icons;
    QPixmap m_blank;
};
