#pragma once

#include <QByteArray>
#include <QString>

// The one picture a StreamServer serves beside its stream. Each picture has
// a serial of its own, in the name it is asked for by ("picture-N"), handed
// out before the picture is made; only the one begun last is answered, and
// none beyond kMaxBytes.
class ServedPicture {
public:
    static constexpr qsizetype kMaxBytes = 1024 * 1024;
    enum class State { None, Making, Made };

    // None is served until the next one begins.
    void clear();
    // A new one is being made; returns its serial.
    int begin();
    // The picture `serial` is made (`bytes` of type `mime`), or could not be
    // (empty, or beyond kMaxBytes); false, with nothing changed, when
    // another was begun since.
    bool set(int serial, const QByteArray &bytes, const QString &mime);

    State state() const { return m_state; }
    // What it is asked for by; empty while there is none.
    QByteArray name() const;
    // The answer to a request for it: the picture (its head only for
    // `headOnly`), or 404 unless it is made.
    QByteArray response(bool headOnly) const;

private:
    State m_state = State::None;
    int m_serial = 0;
    QByteArray m_bytes;
    QByteArray m_mime;
};
