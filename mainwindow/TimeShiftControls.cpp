#include "mainwindow/TimeShiftControls.h"

#include "platform/ui/WindowHost.h"
#include "session/PlaybackSession.h"

#include <QAccessible>
#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

namespace {
const QString kTimeShiftTipKey = QStringLiteral("timeshift");
constexpr int kOldestNoticeMs = 4000;
} // namespace

TimeShiftControls::TimeShiftControls(PlaybackSession *session, WindowHost *host, QObject *parent)
    : QObject(parent), m_session(session), m_host(host), m_oldestNotice(new QTimer(this))
{
    struct Step {
        qint64 ms;
        const char *text;
        const char *accessible;
        const char *name;
    };
    const Step steps[] = {{-60000, "\u221260 s", "Back 60 seconds", "back60"},
                          {-10000, "\u221210 s", "Back 10 seconds", "back10"},
                          {10000, "+10 s", "Forward 10 seconds", "forward10"}};
    const QKeySequence keys[] = {QKeySequence(Qt::SHIFT | Qt::Key_Left), QKeySequence(Qt::Key_Left),
                                 QKeySequence(Qt::Key_Right)};
    for (int i = 0; i < 3; ++i) {
        const Step &step = steps[i];
        const auto seek = [this, ms = step.ms] { m_session->seekBy(ms); };
        const QByteArray name(step.name);
        if (i == 2) {
            m_position = new QLabel(m_host->timeShiftBar());
            m_position->setObjectName(QStringLiteral("timeShiftLabel"));
            m_position->setAccessibleName(QStringLiteral("Time behind live"));
            m_host->timeShiftBar()->layout()->addWidget(m_position);
        }
        QToolButton *button = addButton(QString::fromUtf8(step.text),
                                        QString::fromUtf8(step.accessible), (name + "Btn").data());
        connect(button, &QToolButton::clicked, this, seek);
        if (i == 2)
            m_forward = button;
        m_host->addShortcut(keys[i], (name + "Shortcut").constData(), this, seek);
        QAction *action =
            m_host->addTrayAction(TrayMenu::Section::Playback, QString::fromUtf8(step.accessible),
                                  (name + "Action").constData());
        connect(action, &QAction::triggered, this, seek);
        m_steps << action;
    }
    m_live = addButton(QStringLiteral("Live"), QStringLiteral("Back to Live"), "liveBtn");
    const auto live = [this] { m_session->goLive(); };
    connect(m_live, &QToolButton::clicked, this, live);
    m_host->addShortcut(QKeySequence(Qt::Key_End), "liveShortcut", this, live);
    QAction *backToLive = m_host->addTrayAction(TrayMenu::Section::Playback,
                                                QStringLiteral("Back to Live"), "backToLiveAction");
    connect(backToLive, &QAction::triggered, this, live);
    m_steps << backToLive;

    QAction *holds =
        m_host->addTrayAction(TrayMenu::Section::Listening,
                              QStringLiteral("Pause Holds the Station"), "pauseHoldsStationAction");
    holds->setCheckable(true);
    holds->setChecked(m_session->pauseHoldsStation());
    connect(holds, &QAction::toggled, m_session, &PlaybackSession::setPauseHoldsStation);

    m_oldestNotice->setSingleShot(true);
    connect(m_oldestNotice, &QTimer::timeout, this, &TimeShiftControls::update);
    connect(session, &PlaybackSession::timeShiftChanged, this, &TimeShiftControls::update);
    connect(session, &PlaybackSession::stateChanged, this, &TimeShiftControls::update);
    connect(session, &PlaybackSession::seeked, this, &TimeShiftControls::announce);
    connect(session, &PlaybackSession::resumedFromOldest, this, [this] {
        m_oldestNotice->start(kOldestNoticeMs);
        update();
        announce();
    });
    update();
}

QToolButton *TimeShiftControls::addButton(const QString &text, const QString &accessible,
                                          const char *name)
{
    auto *button = new QToolButton(m_host->timeShiftBar());
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setAccessibleName(accessible);
    button->setToolTip(accessible);
    button->setFocusPolicy(Qt::NoFocus); // the keys are the window's
    m_host->timeShiftBar()->layout()->addWidget(button);
    return button;
}

void TimeShiftControls::update()
{
    const bool can = m_session->canSeek();
    const qint64 behind = m_session->behindLiveMs();
    QString text = PlaybackSession::behindLiveText(behind);
    if (m_oldestNotice->isActive())
        text += QStringLiteral(" (oldest kept)");
    m_host->timeShiftBar()->setVisible(can);
    m_position->setText(can ? text : QString());
    const QString description =
        behind > 0 ? QStringLiteral("%1 behind live").arg(text) : QStringLiteral("Live");
    m_position->setAccessibleDescription(description);
    m_host->timeShiftBar()->setAccessibleDescription(description);
    m_forward->setEnabled(can && behind > 0);
    m_live->setEnabled(can && behind > 0);
    for (QAction *step : std::as_const(m_steps))
        step->setEnabled(can);
    m_host->setToolTipLine(kTimeShiftTipKey, can && behind > 0 ? description : QString());
}

// A seek moved the position by a step: a screen reader says where it is now.
void TimeShiftControls::announce()
{
    update();
    QAccessibleEvent event(m_position, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}
