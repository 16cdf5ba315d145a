#include "schedulewindow/ScheduleForm.h"

#include "platform/base/Clock.h"
#include "store/ProgramEntry.h"
#include "ui_ScheduleView.h"

#include <array>

namespace scheduleform {

namespace {

std::array<QCheckBox *, 7> dayBoxes(const Ui::ScheduleView &ui)
{
    return {ui.mondayBox, ui.tuesdayBox,  ui.wednesdayBox, ui.thursdayBox,
            ui.fridayBox, ui.saturdayBox, ui.sundayBox};
}

QString urlOf(const QVariantMap &entry)
{
    return program::url(entry);
}

} // namespace

void fillPrograms(Ui::ScheduleView &ui, const QList<programindex::Program> &programs,
                  const QVariantMap &keep)
{
    const QString chosen = urlOf(ui.programCombo->currentData().toMap());
    ui.programCombo->clear();
    bool kept = keep.isEmpty();
    for (const programindex::Program &p : programs) {
        ui.programCombo->addItem(program::name(p.entry), p.entry);
        kept = kept || urlOf(p.entry) == urlOf(keep);
    }
    if (!kept)
        ui.programCombo->addItem(QStringLiteral("%1 (Program removed)").arg(program::name(keep)),
                                 keep);
    for (int i = 0; i < ui.programCombo->count(); ++i) {
        if (urlOf(ui.programCombo->itemData(i).toMap()) == chosen) {
            ui.programCombo->setCurrentIndex(i);
            break;
        }
    }
}

void show(Ui::ScheduleView &ui, const schedule::Schedule &s)
{
    for (int i = 0; i < ui.programCombo->count(); ++i) {
        if (urlOf(ui.programCombo->itemData(i).toMap()) == urlOf(s.program)) {
            ui.programCombo->setCurrentIndex(i);
            break;
        }
    }
    (s.action == schedule::Action::Record ? ui.recordRadio : ui.playRadio)->setChecked(true);
    (s.repeats() ? ui.repeatRadio : ui.onceRadio)->setChecked(true);
    // A repeating schedule offers tomorrow for a switch to a single run.
    const QDate tomorrow = Clock::shared()->currentDateTimeUtc().toLocalTime().date().addDays(1);
    ui.dateTimeEdit->setDateTime(QDateTime(s.repeats() ? tomorrow : s.date, s.time));
    ui.timeEdit->setTime(s.time);
    const auto boxes = dayBoxes(ui);
    for (int day = 0; day < 7; ++day)
        boxes[day]->setChecked(s.weekdays & (1 << day));
    ui.lengthSpin->setValue(s.lengthMinutes);
    ui.fadeSpin->setValue(s.fadeInSeconds);
    ui.volumeSpin->setValue(s.volume);
    ui.enabledBox->setChecked(s.enabled);
    updateFields(ui);
}

schedule::Schedule read(const Ui::ScheduleView &ui)
{
    schedule::Schedule s;
    s.program = ui.programCombo->currentData().toMap();
    s.action = ui.recordRadio->isChecked() ? schedule::Action::Record : schedule::Action::Play;
    if (ui.onceRadio->isChecked()) {
        const QDateTime at = ui.dateTimeEdit->dateTime();
        s.date = at.date();
        s.time = QTime(at.time().hour(), at.time().minute());
    } else {
        s.time = QTime(ui.timeEdit->time().hour(), ui.timeEdit->time().minute());
        const auto boxes = dayBoxes(ui);
        for (int day = 0; day < 7; ++day)
            s.weekdays |= boxes[day]->isChecked() ? 1 << day : 0;
    }
    s.lengthMinutes = ui.lengthSpin->value();
    s.enabled = ui.enabledBox->isChecked();
    if (s.action == schedule::Action::Play) {
        s.fadeInSeconds = ui.fadeSpin->value();
        s.volume = ui.volumeSpin->value();
    }
    return s;
}

schedule::Schedule blank(const QList<programindex::Program> &programs)
{
    schedule::Schedule s;
    if (!programs.isEmpty())
        s.program = programs.first().entry;
    s.time = QTime(7, 0);
    s.weekdays = 0x1f;
    s.lengthMinutes = 0;
    return s;
}

void updateFields(Ui::ScheduleView &ui)
{
    const bool once = ui.onceRadio->isChecked();
    ui.dateTimeEdit->setEnabled(once);
    ui.timeEdit->setEnabled(!once);
    for (QCheckBox *box : dayBoxes(ui))
        box->setEnabled(!once);
    const bool play = ui.playRadio->isChecked();
    ui.fadeSpin->setEnabled(play);
    ui.volumeSpin->setEnabled(play);
    // An alarm may play until stopped; a recording lasts at least a minute.
    ui.lengthSpin->setMinimum(play ? 0 : 1);
    ui.lengthSpin->setSpecialValueText(play ? QStringLiteral("until stopped") : QString());
}

} // namespace scheduleform
