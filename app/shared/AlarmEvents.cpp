#include "shared/AlarmEvents.h"

#include "shared/AlarmNotifier.h"
#include "shared/InetInf.h"
#include "shared/MqttFeed.h"
#include "shared/SysInf.h"
#include "shared/TableWords.h"
#include "shared/UnitStates.h"

void AlarmEvents::journal(JournalEvent event, int unit)
{
    if (unit < 0)
        m_parts.journal.Record(event, -1, QString());
    else
        m_parts.journal.Record(event, unit, m_parts.sys.cell(unit, ColName), m_parts.sys.AlarmCondition(unit));
}

void AlarmEvents::mailAndMark(int unit, bool mark)
{
    m_parts.notifier.SendAlarmMail(m_parts.sys.cell(unit, ColName), unit);
    if (mark && m_parts.inet.HasCameraFolder())
        m_parts.notifier.PostAbnormalMark();
}

void AlarmEvents::raised(int unit, bool markHere)
{
    journal(JournalEvent::Raised, unit);
    m_parts.mqtt.alarmEvent(unit, AlarmEvent::Raised);
    mailAndMark(unit, markHere);
}

void AlarmEvents::acknowledged(int unit)
{
    journal(JournalEvent::Acknowledged, unit);
    m_parts.mqtt.alarmEvent(unit, AlarmEvent::Acknowledged);
}

void AlarmEvents::cleared(int unit, bool journalled)
{
    if (journalled)
        journal(JournalEvent::Cleared, unit);
    m_parts.mqtt.alarmEvent(unit, AlarmEvent::Cleared);
}

void AlarmEvents::givenUp(int unit, bool mail)
{
    journal(JournalEvent::GivenUp, unit);
    m_parts.mqtt.alarmEvent(unit, AlarmEvent::GivenUp);
    if (mail)
        mailAndMark(unit);
}

void AlarmEvents::answering(int unit)
{
    journal(JournalEvent::Answering, unit);
    m_parts.mqtt.alarmEvent(unit, AlarmEvent::Answering);
}

void AlarmEvents::started()
{
    journal(JournalEvent::Started, -1);
    m_parts.mqtt.monitoringStarted();
}

void AlarmEvents::stopped(bool ending)
{
    journal(JournalEvent::Stopped, -1);
    if (ending)
        return;
    for (int unit = 0; unit < UnitSlots; ++unit)
        if (m_parts.units.unitItem(ItemAlarmFlag, unit) != AlarmClear)
            m_parts.mqtt.alarmEvent(unit, AlarmEvent::Cleared, "stopped");
    m_parts.mqtt.monitoringStopped();
}

void AlarmEvents::clockChanged()
{
    journal(JournalEvent::ClockChanged, -1);
}
