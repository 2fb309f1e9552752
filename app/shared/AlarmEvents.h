#pragma once
// The one fan-out of the station's alarm and monitoring events: each writes the journal line,
// tells the MQTT feed and, where the event calls for it, sends the alarm mail and posts the
// abnormality mark. Those report their own failures; none of them changes what a poll found.

#include "shared/AlarmJournal.h"

class AlarmNotifier;
class InetInf;
class MqttFeed;
class SysInf;
class UnitStates;

class AlarmEvents {
public:
    struct Parts {
        AlarmJournal& journal;
        MqttFeed& mqtt;
        AlarmNotifier& notifier;
        const SysInf& sys;
        const InetInf& inet;
        const UnitStates& units;
    };
    explicit AlarmEvents(Parts parts) : m_parts(parts) {}

    // Mailed, and marked unless the caller posts the mark itself (a detail slot sends it through
    // its own FTP control as a step of its cycle).
    void raised(int unit, bool markHere = true);
    void acknowledged(int unit);
    // journalled false: the alarm ended with a detail slot's stop, which only its broker hears of.
    void cleared(int unit, bool journalled = true);
    // A unit given up and one heard again after that, once each per failure episode; mail marks
    // a failure episode of a unit polled directly.
    void givenUp(int unit, bool mail);
    void answering(int unit);
    void started();
    // Monitoring stopped: the alarms standing end for the broker's readers with the reason
    // "stopped", and every unit's state says stopped. Call before the flags are cleared. A
    // program that is ending only journals it: its broker connection is going with it.
    void stopped(bool ending = false);
    void clockChanged();

private:
    void journal(JournalEvent event, int unit);
    void mailAndMark(int unit, bool mark = true);

    Parts m_parts;
};
