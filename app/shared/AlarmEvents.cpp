#include "AlarmEvents.h"

#include "MontComm1.h"

void AlarmEvents::journal(JournalEvent event, int unit)
{
    if (unit < 0)
        m_comm.journal().Record(event, -1, QString());
    else
        m_comm.journal().Record(event, unit, m_comm.sys().cell(unit, ColName), m_comm.AlarmCondition(unit));
}

void AlarmEvents::mailAndMark(int unit, bool mark)
{
    m_comm.alarms().SendAlarmMail(m_comm.sys().cell(unit, ColName), unit);
    if (mark && m_comm.inet().HasCameraFolder())
        m_comm.alarms().PostAbnormalMark();
}

void AlarmEvents::raised(int unit, bool markHere)
{
    journal(JournalEvent::Raised, unit);
    m_comm.mqtt().alarmEvent(unit, AlarmEvent::Raised);
    mailAndMark(unit, markHere);
}

void AlarmEvents::acknowledged(int unit)
{
    journal(JournalEvent::Acknowledged, unit);
    m_comm.mqtt().alarmEvent(unit, AlarmEvent::Acknowledged);
}

void AlarmEvents::cleared(int unit, bool journalled)
{
    if (journalled)
        journal(JournalEvent::Cleared, unit);
    m_comm.mqtt().alarmEvent(unit, AlarmEvent::Cleared);
}

void AlarmEvents::givenUp(int unit, bool mail)
{
    journal(JournalEvent::GivenUp, unit);
    if (mail)
        mailAndMark(unit);
}

void AlarmEvents::answering(int unit)
{
    journal(JournalEvent::Answering, unit);
}

void AlarmEvents::started()
{
    journal(JournalEvent::Started, -1);
    m_comm.mqtt().monitoringStarted();
}

void AlarmEvents::stopped(bool ending)
{
    journal(JournalEvent::Stopped, -1);
    if (ending)
        return;
    for (int unit = 0; unit < UnitStates::UnitSlots; ++unit)
        if (m_comm.units().unitItem(ItemAlarmFlag, unit) != AlarmClear)
            m_comm.mqtt().alarmEvent(unit, AlarmEvent::Cleared, "stopped");
    m_comm.mqtt().monitoringStopped();
}

void AlarmEvents::clockChanged()
{
    journal(JournalEvent::ClockChanged, -1);
}
