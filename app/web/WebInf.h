#pragma once
// The web view's settings and the file WebInf.ini that stores them. A station without the file,
// or with Enabled=0, serves nothing. The viewer password is kept only as a salted slow hash.

#include "shared/Outcome.h"

#include <QHostAddress>
#include <QString>
#include <optional>

struct WebSettings {
    int Enabled = 0;
    QString Listen = QStringLiteral("127.0.0.1:8080");
    QString PassHash; // pbkdf2-sha256$iterations$salt$hash; empty: no password
    QString CertFile; // PEM; empty: plain HTTP
    QString KeyFile;
};

struct ListenAddress {
    QHostAddress host;
    quint16 port = 0;
};

class MessageBoxService;

class WebInf {
public:
    static inline const QString FileName = QStringLiteral("WebInf.ini");
    // Slow enough to make guessing a stolen hash costly, quick enough for one login.
    static constexpr int Iterations = 200000;

    explicit WebInf(QString workDir) : m_workDir(std::move(workDir)) {}

    WebSettings settings;
    bool enabled() const { return settings.Enabled == 1; }

    // NotLoaded when there is no file (the view stays off); Failed naming what is wrong.
    Outcome load();
    // Refuses settings checkSettings finds wrong; the file is created for the owner only.
    Outcome save(MessageBoxService& messages);

    // "address:port", "[v6 address]:port"; nothing for anything else (no host names: the
    // station must know what it exposes).
    static std::optional<ListenAddress> parseListen(const QString& text);
    // What is wrong with the settings, in the operator's words; empty when nothing is. Only a
    // station with a password and a certificate listens beyond loopback: without a password
    // anyone could look, without a certificate the password would cross the network readable.
    static QString checkSettings(const WebSettings& s);

    static QString HashPassword(const QString& password, int iterations = Iterations);
    // Whether the password matches a stored hash; false for a hash that is not well formed.
    static bool CheckPassword(const QString& stored, const QByteArray& password);
    static bool GoodHash(const QString& stored);

private:
    QString m_workDir;
    bool m_unreadable = false;
};
