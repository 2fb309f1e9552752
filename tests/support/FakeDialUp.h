#pragma once
// A scripted dial-up backend: profiles by name, every call recorded.

#include "platform/DialUpBackend.h"

#include <QStringList>
#include <atomic>
#include <chrono>
#include <thread>

struct FakeDialUp : DialUpBackend {
    QStringList profiles{QStringLiteral("isp")};
    int32_t dialResult = 0;       // what the next dial returns
    std::atomic<int> hangUpMs{0}; // how long a hang-up takes
    std::vector<ActiveDialUp> up;
    QStringList calls;

    int32_t entries(std::vector<QString>& out) override
    {
        for (const auto& p : profiles)
            out.push_back(p);
        return 0;
    }
    int32_t active(std::vector<ActiveDialUp>& out) override
    {
        out = up;
        return 0;
    }
    int32_t dial(const QString& entry, const QString& user, const QString&, int32_t& handle) override
    {
        calls << QStringLiteral("dial %1 %2").arg(entry, user);
        if (!profiles.contains(entry))
            return DialUpError::EntryNotFound;
        if (dialResult != 0)
            return dialResult;
        handle = 40 + int32_t(up.size());
        up.push_back({handle, entry});
        return 0;
    }
    int32_t hangUp(int32_t handle) override
    {
        calls << QStringLiteral("hangup %1").arg(handle);
        std::this_thread::sleep_for(std::chrono::milliseconds(hangUpMs.load()));
        for (auto it = up.begin(); it != up.end(); ++it)
            if (it->handle == handle) {
                up.erase(it);
                return 0;
            }
        return DialUpError::NotConnected;
    }
};
