// Relay fetches reach web servers only.
#include "outside/InternetTransfer.h"
#include "PyServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(CurlTransfer, OnlyHttpAndHttpsAreFetched)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("relay.csv");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("local secret\r\n");
    f.close();

    CurlTransfer t;
    t.ConnectTimeOutMs = 500;
    t.RequestTimeOutMs = 1000;
    for (const QString& url : {QStringLiteral("file://") + path, QStringLiteral("FILE://") + path,
                               QStringLiteral(" file://") + path, QStringLiteral("ftp://127.0.0.1:1/x"),
                               QStringLiteral("dict://127.0.0.1:1/x"), QStringLiteral("file:") + path}) {
        try {
            const QString text = t.OpenURL(url);
            ADD_FAILURE() << url.toStdString() << " gave " << text.toStdString();
        } catch (const TransferError& e) {
            EXPECT_STREQ(e.what(), "only http and https addresses are fetched") << url.toStdString();
        }
    }
    // An http address still goes out (and finds no server here); so does one without a
    // scheme, as http, but a guess of another protocol is refused.
    for (const char* url : {"http://127.0.0.1:1/relay.csv", "127.0.0.1:1/relay.csv", "ftp.invalid/relay.csv"}) {
        try {
            t.OpenURL(QString::fromLatin1(url));
            ADD_FAILURE() << url;
        } catch (const TransferError& e) {
            EXPECT_STRNE(e.what(), "only http and https addresses are fetched") << url;
        }
    }
}

TEST(CurlTransfer, RedirectsStayOnTheHostAndNeverLeaveHttps)
{
    EXPECT_TRUE(RedirectAllowed("http://relay.example.jp/a", "https://RELAY.example.jp:8443/b"));
    EXPECT_TRUE(RedirectAllowed("https://relay.example.jp/a", "https://relay.example.jp/b"));
    EXPECT_FALSE(RedirectAllowed("https://relay.example.jp/a", "http://relay.example.jp/b"));
    EXPECT_FALSE(RedirectAllowed("http://relay.example.jp/a", "http://relay.example.jp.evil.jp/b"));
    EXPECT_FALSE(RedirectAllowed("http://relay.example.jp/a", "ftp://relay.example.jp/b"));

    PyServer server(QStringLiteral("redirect_server.py"), {});
    ASSERT_TRUE(server.ready());
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    CurlTransfer t;
    EXPECT_EQ(t.OpenURL(base + "/same"), QStringLiteral("good\r\n"));
    for (const char* path : {"/away", "/loop"}) {
        try {
            const QString text = t.OpenURL(base + path);
            ADD_FAILURE() << path << " gave " << text.toStdString();
        } catch (const TransferError&) {
        }
    }
}
