#pragma once

#include "platform/media/LoudnessLevel.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

typedef struct _GstElement GstElement;

// Drives one station's levelling on the main thread: twice a second it
// takes what the playing pipeline's meter read, lets the LoudnessLevel
// move the gain and sets it on the pipeline. The gain the station taught
// is kept by its address (LoudnessMemory) every half minute and when the
// player goes, and is where the next visit starts.
class LoudnessLeveller : public QObject {
    Q_OBJECT
public:
    LoudnessLeveller(const QString &station, std::function<GstElement *()> pipeline,
                     QObject *parent = nullptr);
    ~LoudnessLeveller() override;

    void setLevelling(bool on, double targetLufs);
    // Sets the gain on a pipeline just made.
    void apply();
    double gainDb() const { return m_level.gainDb(); }

private:
    void tick();
    void rememberLearned();

    QString m_station;
    std::function<GstElement *()> m_pipeline;
    LoudnessLevel m_level;
    bool m_on = true;
    QTimer m_timer;
    int m_ticks = 0;
};
