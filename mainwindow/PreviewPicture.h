#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>

// The current program's picture for the main window's preview. It loads in
// the background; until it arrives (or if it never does) the preview stays
// empty, and a reply for a picture that is no longer the current one is
// dropped. A picture that failed is asked again on a later refresh, but no
// sooner than the retry interval after the failure.
class PreviewPicture : public QObject {
    Q_OBJECT
public:
    // `show` receives each picture to show (a null image for none).
    explicit PreviewPicture(std::function<void(const QImage &)> show, QObject *parent = nullptr);

    // Shows the picture at `address`, loading it if needed.
    void refresh(const QString &address);
    // While held (at start-up, until the first frame), nothing is asked for;
    // releasing asks for what the last refresh named.
    void setHeld(bool held);
    void setRetryInterval(std::chrono::milliseconds interval) { m_retryInterval = interval; }

private:
    void load(const QUrl &url);

    std::function<void(const QImage &)> m_show;
    QString m_address;
    QUrl m_url;
    quint64 m_generation = 0;
    bool m_failed = false; // the shown URL's last load gave no picture
    bool m_held = false;
    QHash<QUrl, QDeadlineTimer> m_retryAt; // failed URL -> when to try again
    std::chrono::milliseconds m_retryInterval{60'000};
};
