#pragma once

#include "platform/stream/KeptAudio.h"

#include <QList>
#include <QString>

// The marks of kept audio as a stream brings them: each connection, the
// titles where they change (the first after a connection names the song
// already on), each Ogg chain; bounded in number, and let go with the bytes
// they are about but for the one the oldest song held began at. Not
// thread-safe: its owner guards it.
class KeptMarks {
public:
    // Marks kept at most: a station that changes its title in every
    // metadata block loses its oldest title marks, not memory or time.
    static constexpr qsizetype kMaxMarks = 1024;

    void started(qint64 offset, qint64 wallMs, StreamTap::Format format);
    // An empty title, or the one announced last, marks nothing.
    void titled(qint64 offset, qint64 wallMs, const QString &title);
    void chainBegan(qint64 offset, qint64 wallMs, const QString &title, StreamTap::Format format);
    // The bytes before `start` have gone.
    void forgetBefore(qint64 start);
    void clear();
    const QList<StreamMark> &list() const { return m_marks; }

private:
    void mark(StreamMark::Kind kind, qint64 offset, qint64 wallMs, const QString &title,
              StreamTap::Format format);

    QList<StreamMark> m_marks;
    QString m_lastTitle;
    bool m_titledSinceStart = false;
    StreamTap::Format m_format = StreamTap::Format::Unknown;
};
