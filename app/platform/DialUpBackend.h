#pragma once
// Dial-up on Linux: a phone-book entry is a NetworkManager connection profile. Dialling brings
// the profile up, hanging up brings it down. Results are 0 or one of the error codes below.

#include <QString>
#include <atomic>
#include <cstdint>
#include <vector>

namespace DialUpError {
constexpr int32_t EntryNotFound = 623;
constexpr int32_t NotConnected = 668;
constexpr int32_t DialFailed = 651;
constexpr int32_t AuthenticationFailed = 691;
constexpr int32_t ServiceUnavailable = 711;
constexpr int32_t TimedOut = 718;
QString text(int32_t code); // a clear text for every code
} // namespace DialUpError

struct ActiveDialUp {
    int32_t handle = 0;
    QString entry;
};

class DialUpBackend {
public:
    virtual ~DialUpBackend() = default;
    virtual int32_t entries(std::vector<QString>& out) = 0;
    virtual int32_t active(std::vector<ActiveDialUp>& out) = 0;
    // handle: set to a non-zero number for the connection on success.
    virtual int32_t dial(const QString& entry, const QString& user, const QString& password, int32_t& handle) = 0;
    virtual int32_t hangUp(int32_t handle) = 0;
    // From any thread: the call under way, and every later one, ends at once (the station is closing).
    virtual void cancel() {}
    // The station is closing and must leave nothing dialled: calls run again after a cancel, and
    // each, the one under way included, ends within ms.
    virtual void closing(int ms) { (void)ms; }
};

// nmcli, run as a child process. Blocks its caller: the station calls it on a worker thread.
class NmcliDialUp : public DialUpBackend {
public:
    explicit NmcliDialUp(QString program = QStringLiteral("nmcli")) : m_program(std::move(program)) {}
    int32_t entries(std::vector<QString>& out) override;
    int32_t active(std::vector<ActiveDialUp>& out) override;
    int32_t dial(const QString& entry, const QString& user, const QString& password, int32_t& handle) override;
    int32_t hangUp(int32_t handle) override;
    int TimeOutSeconds = 90;
    void cancel() override { m_cancel = true; }
    void closing(int ms) override
    {
        m_limitMs = ms;
        m_cancel = false;
    }

private:
    int32_t run(const QStringList& args, QString* out);
    QString m_program;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_limitMs{0}; // 0: TimeOutSeconds
};
