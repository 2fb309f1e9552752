#pragma once
// The one way windows and slots reach a unit of the table or a relay file on the web: work on
// the poll engine's lane for it, with the answer back on the UI thread while the context lives.
// The work gets copies (the unit's row, the URL and proxy), never the station's shared data.

#include "outside/InternetTransfer.h"
#include "outside/PollEngine.h"
#include "shared/SysInf.h"

#include <QString>
#include <functional>

namespace UnitEndpoint {

// work(link) runs on the unit's lane with the link as the caller's work leaves it.
template <class Result>
void onUnit(PollEngine& engine, const DeviceRecord& row, QObject* context, std::function<Result(DeviceLink&)> work,
            std::function<void(Result)> done)
{
    engine.submit<Result>(
        SysInf::UnitKey(row), context, [work = std::move(work)](PollEngine::Tools& tools) { return work(tools.link); },
        std::move(done));
}

// The proxy of the settings, if any, for the transfers that follow.
inline void UseProxy(InternetTransfer& transfer, const QString& proxy, const QString& proxyPort)
{
    transfer.Proxy = proxy;
    transfer.ProxyPort = proxyPort;
    transfer.AccessType = proxy.isEmpty() ? InternetTransfer::Default : InternetTransfer::NamedProxy;
}

// work(transfer) runs on the URL's lane with the proxy applied.
template <class Result>
void onUrl(PollEngine& engine, const QString& url, const QString& proxy, const QString& proxyPort, QObject* context,
           std::function<Result(InternetTransfer&)> work, std::function<void(Result)> done)
{
    engine.submit<Result>(
        url, context,
        [proxy, proxyPort, work = std::move(work)](PollEngine::Tools& tools) {
            UseProxy(tools.transfer, proxy, proxyPort);
            return work(tools.transfer);
        },
        std::move(done));
}

} // namespace UnitEndpoint
