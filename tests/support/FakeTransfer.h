#pragma once
// A scripted Internet transfer control: documents by URL, every fetch recorded.

#include "outside/InternetTransfer.h"

#include <QStringList>
#include <map>

class FakeTransfer : public InternetTransfer {
public:
    QString OpenURL(const QString& url) override
    {
        fetched << url;
        const auto it = documents.find(url);
        if (it == documents.end())
            throw TransferError("not found");
        return it->second;
    }
    std::map<QString, QString> documents;
    QStringList fetched;
};
