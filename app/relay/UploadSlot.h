#pragma once
// A slot on the upload side (modes 0 and 3): it polls its unit, publishes the unit's relay data
// file, and carries out the output requests the download side posts.

#include "relay/RelaySlot.h"
#include "shared/RelayText.h"

class UploadSlot : public RelaySlot {
    Q_OBJECT
public:
    using RelaySlot::RelaySlot;

    // The values of the last data line: slots read their units side by side.
    const Relay::UploadValues& uploadValues() const { return m_values; }

protected:
    void prepare(std::function<void(bool)> done) override;
    void openLink(std::function<void(bool)> done) override;
    void cycle(Next next) override;
    void setOutput(int pin, bool on, Next next) override;
    void stopped() override;

private:
    void PollSlotUnit(Next next);
    void WriteAndSendDataFile(std::function<void(bool)> done);
    void ServeOutputRequest(Next next);
    void serve(int unit, const QString& name, const QString& text, Next next);
    void setRequested(const Relay::OutputRequest& request, Next next);
    // Up to three resets of the request file, each read back; an error in a reset ends them.
    void resetRequestFile(const QString& name, std::function<void(bool, QString)> done, int attempt = 0);
    // Resets a request file that cannot be read as a request and reports the slot's error.
    void discardRequest(const QString& name, Next next);
    // Up to three resets, until the file no longer holds the request.
    void consumeRequest(const QString& name, const QString& requestLine, Next next, int attempt = 0);

    Relay::UploadValues m_values{};
};
