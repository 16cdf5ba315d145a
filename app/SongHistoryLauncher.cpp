#include "app/SongHistoryLauncher.h"

#include "history/LoveSong.h"
#include "historywindow/SongHistoryViewController.h"
#include "integrations/NowPlayingNotices.h"
#include "platform/ui/LetGoWhenClosed.h"
#include "platform/ui/WindowHost.h"

#include <QAction>
#include <QToolButton>

SongHistoryLauncher::SongHistoryLauncher(HistoryStore *store, HistoryRecorder *recorder,
                                         QObject *parent)
    : QObject(parent), m_store(store), m_love(new LoveSong(recorder, store, this))
{
    connect(m_love, &LoveSong::changed, this, &SongHistoryLauncher::showLove);
}

SongHistoryLauncher::~SongHistoryLauncher() = default;

void SongHistoryLauncher::attachHome(WindowHost *home)
{
    m_home = home;
    home->addShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), "historyShortcut", this,
                      [this] { open(m_home ? m_home->window() : nullptr); });
    home->addShortcut(QKeySequence(Qt::Key_L), "loveShortcut", this, [this] { m_love->toggle(); });
    connect(home->loveButton(), &QToolButton::clicked, m_love, &LoveSong::setLoved);

    m_loveAction = home->addTrayAction(TrayMenu::Section::Playback,
                                       QStringLiteral("Love This Song"), "loveAction");
    m_loveAction->setCheckable(true);
    connect(m_loveAction, &QAction::triggered, m_love, &LoveSong::setLoved);
    QAction *history = home->addTrayAction(TrayMenu::Section::Stations,
                                           QStringLiteral("Song History…"), "historyAction");
    connect(history, &QAction::triggered, this,
            [this] { open(m_home ? m_home->shownWindow() : nullptr); });
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
        letGoWhenClosed(m_window, this);
        if (m_canSave && m_save)
            m_window->setSaveSongHandler(m_canSave, m_save);
    }
    m_window->showWindow(near);
}

void SongHistoryLauncher::showLove()
{
    const bool can = m_love->canLove();
    const bool loved = m_love->isLoved();
    if (m_home) {
        QToolButton *button = m_home->loveButton();
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
