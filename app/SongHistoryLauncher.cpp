#include "app/SongHistoryLauncher.h"

#include "history/LoveSong.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/TrayMenu.h"
#include "player/HomeViewController.h"
#include "player/NowPlayingNotices.h"
#include "songs/SongHistoryViewController.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

SongHistoryLauncher::SongHistoryLauncher(HistoryStore *store, HistoryRecorder *recorder,
                                         QObject *parent)
    : QObject(parent), m_store(store), m_love(new LoveSong(recorder, store, this))
{
    connect(m_love, &LoveSong::changed, this, &SongHistoryLauncher::showLove);
}

SongHistoryLauncher::~SongHistoryLauncher() = default;

void SongHistoryLauncher::attachHome(HomeViewController *home)
{
    m_home = home;
    QWidget *window = home->view();
    auto shortcut = [this, window](const QKeySequence &keys, const char *name,
                                   std::function<void()> action) {
        ShortcutRegistry::add(window, keys, QString::fromLatin1(name), this, std::move(action));
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_H), "historyShortcut",
             [this, window] { open(window); });
    shortcut(QKeySequence(Qt::Key_L), "loveShortcut", [this] { m_love->toggle(); });
    connect(home->loveBtn(), &QToolButton::clicked, m_love, &LoveSong::setLoved);

    if (TrayMenu *menu = home->trayMenu()) {
        m_loveAction = new QAction(QStringLiteral("Love This Song"), menu->menu());
        m_loveAction->setObjectName(QStringLiteral("loveAction"));
        m_loveAction->setCheckable(true);
        connect(m_loveAction, &QAction::triggered, m_love, &LoveSong::setLoved);
        menu->addAction(TrayMenu::Section::Playback, m_loveAction);

        auto *history = new QAction(QStringLiteral("Song History…"), menu->menu());
        history->setObjectName(QStringLiteral("historyAction"));
        connect(history, &QAction::triggered, this, [this] {
            QWidget *window = m_home ? m_home->view() : nullptr;
            open(window && window->isVisible() ? window : nullptr);
        });
        menu->addAction(TrayMenu::Section::Stations, history);
    }
    showLove();
}

void SongHistoryLauncher::attachNotices(NowPlayingNotices *notices)
{
    notices->setLoveHandler([love = QPointer<LoveSong>(m_love)](const QString &title) {
        if (love)
            love->loveTitle(title);
    });
}

void SongHistoryLauncher::setSaveSongHandler(
    std::function<bool(const HistoryStore::Song &)> canSave,
    std::function<void(const HistoryStore::Song &)> save)
{
    m_canSave = std::move(canSave);
    m_save = std::move(save);
    if (m_window)
        m_window->setSaveSongHandler(m_canSave, m_save);
}

void SongHistoryLauncher::open(QWidget *near)
{
    if (!m_window) {
        m_window = std::make_unique<SongHistoryViewController>(m_store);
        m_window->view()->installEventFilter(this);
        if (m_canSave && m_save)
            m_window->setSaveSongHandler(m_canSave, m_save);
    }
    m_window->showWindow(near);
}

bool SongHistoryLauncher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && m_window && m_window->isViewLoaded() &&
        watched == m_window->view()) {
        // Let go once the close is over, unless it was opened again since.
        QTimer::singleShot(0, this, [this] {
            if (m_window && !m_window->view()->isVisible())
                m_window.reset();
        });
    }
    return QObject::eventFilter(watched, event);
}

void SongHistoryLauncher::showLove()
{
    const bool can = m_love->canLove();
    const bool loved = m_love->isLoved();
    if (m_home) {
        QToolButton *button = m_home->loveBtn();
        button->setEnabled(can);
        button->setChecked(loved);
        button->setText(loved ? QStringLiteral("♥") : QStringLiteral("♡"));
    }
    if (m_loveAction) {
        m_loveAction->setEnabled(can);
        m_loveAction->setChecked(loved);
    }
}

#include "moc_SongHistoryLauncher.cpp"
