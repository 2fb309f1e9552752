#pragma once
// The Internet transfer control: one synchronous fetch of a URL, the whole document as text.
// A failed fetch (no server, an HTTP error status, a time-out, bytes that are not text)
// throws TransferError; call sites treat it as a missing file.

#include <QString>
#include <atomic>
#include <stdexcept>

class TransferError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The server answered with a document, but one no relay file can be: too large, or bytes
// that are not CP932 text. Unlike a missing file, it is there to be dealt with.
class UnreadableDocument : public TransferError {
public:
    using TransferError::TransferError;
};

// A relay fetch follows a redirect only on the same host, and never from https to http: a
// relay server must not send the station's readings or requests anywhere else.
bool RedirectAllowed(const QString& from, const QString& to);

class InternetTransfer {
public:
    enum Access { Default = 0, Direct = 1, NamedProxy = 2 }; // values of AccessType
    virtual ~InternetTransfer() = default;

    QString Proxy;     // proxy host, used when AccessType is NamedProxy
    QString ProxyPort; // proxy port; empty = the scheme's usual proxy port
    int AccessType = Default;
    // When set and raised by another thread, the fetch under way ends at once with an error.
    const std::atomic<bool>* CancelFlag = nullptr;

    virtual QString OpenURL(const QString& url) = 0;
};

// libcurl behind the control. A fetch, with its redirects, never takes longer than
// RequestTimeOutMs; a document larger than MaxDocumentBytes is unreadable.
class CurlTransfer : public InternetTransfer {
public:
    long ConnectTimeOutMs = 3000;
    long RequestTimeOutMs = 5000;
    qsizetype MaxDocumentBytes = 16 * 1024 * 1024;
    QString OpenURL(const QString& url) override;
};
