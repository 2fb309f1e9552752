#pragma once
// What the detail monitor's window shows of a slot: the window only draws it.

#include "shared/StatusWords.h"

#include <QString>
#include <QStringList>
#include <array>

enum class Tone { Window, Good, Bad }; // window colour, light green, light red
enum class Led { Empty, On, Off, Wait };

struct SlotScreen {
    QStringList names; // the selector's list
    int index = -1;    // the selected unit, -1 for none
    bool selectorEnabled = true;
    bool selectorAlert = false; // light red while the slot's alarm is raised
    QString ip;
    QString openCaption = QStringLiteral("接続");
    QString status = StatusWord::Disconnected;
    Tone statusTone = Tone::Window;
    std::array<QString, 5> values; // RA0..RA3, temperature
    std::array<bool, 5> valueActive{};
    std::array<Led, 8> inputLed{};
    std::array<Led, 8> outputLed{};
    // Pure red behind the LED that raised the alarm: the input's for an input, the output's for an output.
    std::array<bool, 8> inputAlarm{};
    std::array<bool, 8> outputAlarm{};
    std::array<bool, 8> switchOn{};
    std::array<bool, 8> switchArmed{}; // orange: an output of an active slot
    bool busy = false;
};
