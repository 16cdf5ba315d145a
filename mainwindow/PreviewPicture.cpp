#include "mainwindow/PreviewPicture.h"

#include "platform/net/ImageLoader.h"

PreviewPicture::PreviewPicture(std::function<void(const QImage &)> show, QObject *parent)
    : QObject(parent), m_show(std::move(show))
{
}

void PreviewPicture::setHeld(bool held)
{
    m_held = held;
    if (!held)
        refresh(m_address);
}

void PreviewPicture::refresh(const QString &address)
{
    m_address = address;
    // At start-up the picture is asked for once the window's first frame is
    // on screen: the request sets up the network (TLS, name lookup), which
    // the frame does not need.
    if (m_held)
        return;
    const QUrl imageUrl(address, QUrl::StrictMode);
    const bool usable = !address.isEmpty() && imageUrl.isValid() && !imageUrl.scheme().isEmpty();
    if (!usable) {
        ++m_generation;
        m_url = QUrl();
        m_show(QImage());
    } else if (imageUrl != m_url || m_failed) {
        load(imageUrl);
    }
}

void PreviewPicture::load(const QUrl &url)
{
    const bool changed = url != m_url;
    m_url = url;
    const auto failed = m_retryAt.constFind(url);
    if (failed != m_retryAt.cend() && !failed->hasExpired()) {
        if (changed) {
            ++m_generation;
            m_show(QImage());
        }
        m_failed = true;
        return;
    }
    const quint64 generation = ++m_generation;
    m_failed = false;
    m_show(QImage());
    ImageLoader::shared()->load(url, this, [this, generation, url](const QImage &image) {
        if (generation != m_generation)
            return;
        if (image.isNull()) {
            m_failed = true;
            m_retryAt.removeIf([](const auto &entry) { return entry.value().hasExpired(); });
            m_retryAt.insert(url, QDeadlineTimer(m_retryInterval));
        } else {
            m_retryAt.remove(url);
        }
        m_show(image);
    });
}

#include "moc_PreviewPicture.cpp"
