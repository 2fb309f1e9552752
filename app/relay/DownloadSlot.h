#pragma once
// A slot on the download side (modes 1 and 2): it reads the unit's relay data file that the
// upload side publishes, and posts output requests when its switches are flipped.

#include "relay/RelaySlot.h"

#include <optional>

class DownloadSlot : public RelaySlot {
    Q_OBJECT
public:
    using RelaySlot::RelaySlot;

    // Cycles left before an output's relayed level is shown again after a request (NotReadSize: shown).
    int16_t pendingCount(int pin) const { return m_pending[pin]; }

protected:
    void prepare(std::function<void(bool)> done) override;
    void openLink(std::function<void(bool)> done) override { done(true); }
    void cycle(Next next) override;
    void setOutput(int pin, bool on, Next next) override;

private:
    void CheckRemoteParams(std::function<void(bool)> done);
    void ShowRelayedData(Next next);
    void showRelayText(int unit, const QString& dataName, const QString& text);
    void PostOutputRequest(int pin, bool on, Next next);

    std::array<int16_t, 8> m_pending{};
};
